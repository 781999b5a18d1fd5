#include "run/link/link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/test_threads.h"
#include "run/link/posts.h"
#include "run/testing/test_daemon.h"

namespace mossbank::run {
namespace {

using base::testing::BoundedThread;
using std::chrono::milliseconds;
using testing::chunk;
using testing::FakeDaemon;
using testing::kChunkedHead;
using testing::ServerConnection;

using testing::kPatience;

// What the link handed over, as text: "command <json>", "ready", "dropped".
class Recorder {
 public:
  Status handle(const LinkEvent& event) {
    std::string text;
    if (const auto* c = std::get_if<link_event::Command>(&event))
      text = "command " + to_js_json(c->value);
    else if (std::holds_alternative<link_event::Ready>(event))
      text = "ready";
    else
      text = "dropped";
    {
      std::lock_guard lock(mutex_);
      events_.push_back(text);
    }
    changed_.notify_all();
    return ok_status();
  }

  // Waits until `n` events arrived; all of them.
  std::vector<std::string> wait_events(size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] { return events_.size() >= n; });
    return events_;
  }

  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

// The delays the link asked to wait, answered at once; the link ends at the
// pause after `pauses` of them.
class Pauses {
 public:
  explicit Pauses(size_t pauses) : pauses_(pauses) {}

  bool pause(RunShared& run, milliseconds delay) {
    std::lock_guard lock(mutex_);
    if (delays_.size() >= pauses_) {
      run.link.stop.store(true);
      return false;
    }
    delays_.push_back(delay.count());
    return true;
  }

  // `pause` as the link's pause setting.
  std::function<bool(RunShared&, milliseconds)> hook() {
    return [this](RunShared& run, milliseconds delay) { return pause(run, delay); };
  }

  std::vector<long> delays() {
    std::lock_guard lock(mutex_);
    return delays_;
  }

 private:
  std::mutex mutex_;
  size_t pauses_;
  std::vector<long> delays_;
};

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : run(80, 24, daemon.home, "run-1") {
    run.registration.exchange(JsonValue::parse(
        R"({"runId":"run-1","command":"agent","cwd":"/tmp","pid":1,"villageOwned":false})"));
    settings.handle = [this](RunShared&, const LinkEvent& e) { return recorder.handle(e); };
  }

  // Runs the link on a thread of its own until it returns.
  void start(std::function<bool(RunShared&, milliseconds)> pause = {}) {
    if (pause) settings.pause = std::move(pause);
    link_thread = BoundedThread([this] { result = run_link(run, settings); });
  }

  // The link ends by itself where a test calls this; at the fixture's end
  // it has been told to stop.
  void finish() { EXPECT_TRUE(link_thread.join_within(kPatience)) << "the link did not end"; }

  ~LinkTest() override {
    stop_link(run);
    run.waker.end();
    finish();
  }

  FakeDaemon daemon;
  RunShared run;
  LinkSettings settings;
  Recorder recorder;
  BoundedThread link_thread;
  Status result;
};

TEST_F(LinkTest, RegistersAndOpensTheStreamWithExactHeads) {
  testing::Gate& opened = daemon.gate("opened");
  daemon.stream(1, [&](ServerConnection& c) {
    c.write(kChunkedHead);
    opened.open();
  });
  Pauses pauses(0);
  start(pauses.hook());
  // The stream opened; the link waits on it until the test ends it.
  ASSERT_TRUE(opened.wait_for(kPatience));
  ASSERT_EQ(daemon.requests("GET /api/runs/").size(), 1u);
  ASSERT_TRUE(run.link.copy_route().has_value());
  EXPECT_EQ(run.link.copy_route()->port, daemon.port());
  stop_link(run);
  finish();

  const std::string port = std::to_string(daemon.port());
  auto registrations = daemon.requests("POST /api/runs ");
  ASSERT_EQ(registrations.size(), 1u);
  const std::string body =
      R"({"runId":"run-1","command":"agent","cwd":"/tmp","pid":1,"villageOwned":false})";
  EXPECT_EQ(registrations[0], "POST /api/runs HTTP/1.1\r\nhost: 127.0.0.1:" + port +
                                  "\r\nconnection: keep-alive\r\naccept: */*\r\n"
                                  "content-type: application/json\r\nx-mossbank-token: " +
                                  FakeDaemon::kToken + "\r\ncontent-length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_EQ(daemon.requests("GET /api/runs/")[0],
            "GET /api/runs/run-1/commands HTTP/1.1\r\nhost: 127.0.0.1:" + port +
                "\r\naccept: text/event-stream\r\nx-mossbank-token: " + FakeDaemon::kToken +
                "\r\n\r\n");
  // Proof first, then the registration, then the stream.
  EXPECT_EQ(daemon.requests("GET /api/health?nonce=").size(), 1u);
  // A stop at the stream: no Dropped, no route.
  EXPECT_EQ(recorder.events(), std::vector<std::string>{});
  EXPECT_FALSE(run.link.copy_route().has_value());
  // The route the registration went to outlives the link.
  ASSERT_TRUE(registered_route(run.link).has_value());
  EXPECT_EQ(registered_route(run.link)->port, daemon.port());
  EXPECT_EQ(registered_route(run.link)->token, FakeDaemon::kToken);
  EXPECT_TRUE(result.ok()) << result.text;
}

TEST_F(LinkTest, EventsThroughChunks) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk(": keep-alive\n\n"));
    // One event split across two chunks and two writes, with an extension.
    c.write(chunk("event: comm"));
    c.write("4;name=value\r\nand\n\r\n");
    c.write(chunk("data: {\"type\""));
    c.write(chunk(":\"a\"}\n\n"));
    // Data over several lines, a comment inside, no space after the colon.
    c.write(chunk("event: command\ndata:{\"type\":\ndata: \"b\"}\n: note\n\n"));
    c.write(chunk("event: command\ndata: not json\n\n"));
    c.write(chunk("event: other\ndata: {}\n\nevent: ready\ndata: {}\n\n"));
    // unknown-run ends the stream; what follows it in the same read is dropped.
    c.write(chunk("event: unknown-run\ndata: {}\n\nevent: command\ndata: {\"type\":\"late\"}\n\n"));
  });
  Pauses pauses(1);
  start(pauses.hook());
  finish();
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{R"(command {"type":"a"})", "command {\"type\":\"b\"}",
                                      "ready", "dropped", "dropped"}));
  EXPECT_EQ(pauses.delays(), std::vector<long>{500});
}

TEST_F(LinkTest, PlainBodyAndAChunkSizeThatIsNotHexadecimal) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write("HTTP/1.1 200 OK\r\ncontent-type: text/event-stream\r\n\r\n");
    c.write("event: command\r\ndata: {\"type\":\"x\"}\r\n\r\n");
    c.close();
  });
  daemon.stream(2, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: command\ndata: {\"type\":\"y\"}\n\n") + "zz\r\n" +
            chunk("event: command\ndata: {\"type\":\"after\"}\n\n"));
  });
  Pauses pauses(2);
  start(pauses.hook());
  finish();
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{R"(command {"type":"x"})", "dropped",
                                      R"(command {"type":"y"})", "dropped", "dropped"}));
}

TEST_F(LinkTest, OversizeChunkEndsTheStream) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: ready\n\n") + "100001\r\n" + std::string(64, 'x'));
  });
  Pauses pauses(1);
  start(pauses.hook());
  finish();
  EXPECT_EQ(recorder.events(), (std::vector<std::string>{"ready", "dropped", "dropped"}));
}

TEST_F(LinkTest, DelaysGrowAndStartOverAfterReady) {
  struct Case {
    const char* what;
    std::vector<int> ready_streams;  // which attempts carry `ready` (others: 404)
    std::vector<long> delays;
  };
  const std::vector<Case> cases = {
      {"failures in a row", {}, {500, 1000, 2000, 5000, 5000, 5000}},
      {"a stream with ready", {3}, {500, 1000, 500, 1000, 2000, 5000}},
      {"ready each time", {1, 2, 3}, {500, 500, 500, 1000, 2000, 5000}},
  };
  for (const Case& c : cases) {
    FakeDaemon d;
    RunShared r(80, 24, d.home, "run-1");
    for (int n : c.ready_streams)
      d.stream(n, [](ServerConnection& conn) {
        conn.write(kChunkedHead);
        conn.write(chunk("event: ready\ndata: {}\n\n"));
        conn.close();
      });
    Pauses pauses(c.delays.size());
    LinkSettings s;
    s.handle = [](RunShared&, const LinkEvent&) { return ok_status(); };
    s.pause = pauses.hook();
    run_link(r, s);
    EXPECT_EQ(pauses.delays(), c.delays) << c.what;
  }
}

TEST_F(LinkTest, FailedRegistrationOpensNoStream) {
  daemon.set_registration_status(500);
  Pauses pauses(2);
  start(pauses.hook());
  finish();
  EXPECT_EQ(daemon.requests("POST /api/runs ").size(), 3u);
  EXPECT_EQ(daemon.requests("GET /api/runs/").size(), 0u);
  EXPECT_EQ(recorder.events(), (std::vector<std::string>{"dropped", "dropped", "dropped"}));
  EXPECT_FALSE(registered_route(run.link).has_value());
}

TEST_F(LinkTest, NoProofNoRoute) {
  daemon.write_file("config.json", "{\"port\": " + std::to_string(daemon.port()) +
                                       ", \"token\": \"another-token-of-32-characters!!\"}");
  std::vector<bool> routes;
  start([&](RunShared& r, milliseconds) {
    routes.push_back(r.link.copy_route().has_value());
    r.link.stop.store(true);
    return false;
  });
  finish();
  EXPECT_EQ(daemon.requests("POST ").size(), 0u);
  EXPECT_EQ(routes, std::vector<bool>{false});
}

TEST_F(LinkTest, UnknownRunRegistersAgain) {
  for (int n : {1, 2})
    daemon.stream(n, [](ServerConnection& c) {
      c.write(kChunkedHead);
      c.write(chunk("event: unknown-run\ndata: {}\n\n"));
    });
  Pauses pauses(2);
  start(pauses.hook());
  finish();
  EXPECT_EQ(daemon.requests("POST /api/runs ").size(), 3u);
  EXPECT_EQ(pauses.delays(), (std::vector<long>{500, 1000}));
}

TEST_F(LinkTest, ReadTimeOutEndsTheStream) {
  settings.read_timeout = milliseconds(100);
  daemon.stream(1, [](ServerConnection& c) { c.write(kChunkedHead); });
  Pauses pauses(1);
  start(pauses.hook());
  finish();
  EXPECT_EQ(recorder.events(), (std::vector<std::string>{"dropped", "dropped"}));
}

TEST_F(LinkTest, StopEndsTheWaitBetweenAttempts) {
  // Real waits on the run's waker, an hour each: only the stop can end them.
  settings.delays = {std::chrono::hours(1), std::chrono::hours(1), std::chrono::hours(1),
                     std::chrono::hours(1)};
  start();
  recorder.wait_events(1);
  stop_link(run);
  finish();
  EXPECT_EQ(recorder.events(), std::vector<std::string>{"dropped"});
}

TEST_F(LinkTest, RunEndingShutsAnOpenStream) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: ready\ndata: {}\n\n"));
  });
  start();
  recorder.wait_events(1);
  stop_link(run);
  finish();
  EXPECT_EQ(recorder.events(), std::vector<std::string>{"ready"});
  std::lock_guard lock(run.link.stream_mutex);
  EXPECT_FALSE(run.link.command_stream_fd);
}

TEST_F(LinkTest, RefusedPostShutsTheStreamAndTheLinkProvesAgain) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: ready\ndata: {}\n\n"));
  });
  daemon.stream(2, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: ready\ndata: {}\n\n"));
  });
  Pauses pauses(5);
  start(pauses.hook());
  recorder.wait_events(1);
  daemon.set_post_status(401);
  EXPECT_FALSE(report_run(run.link, "/activity", JsonValue::object()));
  auto events = recorder.wait_events(3);
  EXPECT_EQ(events, (std::vector<std::string>{"ready", "dropped", "ready"}));
  EXPECT_EQ(daemon.requests("GET /api/health?nonce=").size(), 2u);
  EXPECT_EQ(pauses.delays(), std::vector<long>{500});
}

TEST_F(LinkTest, VillageOff) {
  struct Case {
    const char* what;
    const char* marker;
    bool village_owned;
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"tray stops a village-owned run", R"({"by":"tray"})", true, {R"(command {"type":"stop"})"}},
      {"tray leaves another run unlinked", R"({"by":"tray"})", false, {"dropped", "dropped"}},
      {"off otherwise", R"({"by":"cli"})", true, {"dropped", "dropped"}},
      {"a marker that is not JSON", "off", true, {"dropped", "dropped"}},
  };
  for (const Case& c : cases) {
    FakeDaemon d;
    RunShared r(80, 24, d.home, "run-1");
    r.registration.update([&](JsonValue& reg) { reg["villageOwned"] = c.village_owned; });
    d.write_file("village-off", c.marker);
    Recorder events;
    Pauses pauses(1);
    LinkSettings s;
    s.handle = [&](RunShared&, const LinkEvent& e) { return events.handle(e); };
    s.pause = pauses.hook();
    EXPECT_TRUE(run_link(r, s).ok());
    EXPECT_EQ(events.events(), c.events) << c.what;
    EXPECT_EQ(d.requests("").size(), 0u) << c.what;
  }
}

TEST_F(LinkTest, SwitchedOffWhileStreamingOnlyStopsAVillageOwnedRun) {
  for (bool owned : {true, false}) {
    FakeDaemon d;
    RunShared r(80, 24, d.home, "run-1");
    r.registration.update([&](JsonValue& reg) { reg["villageOwned"] = owned; });
    testing::Gate& off = d.gate("off");
    d.stream(1, [&](ServerConnection& c) {
      c.write(kChunkedHead);
      c.write(chunk("event: ready\n\n"));
      off.wait();
      c.write(
          chunk("event: command\ndata: {\"type\":\"resize\",\"cols\":90,\"rows\":30}\n\n"
                "event: command\ndata: {\"type\":\"stop\"}\n\n"
                "event: unknown-run\n\n"));
    });
    Recorder events;
    Pauses pauses(0);
    LinkSettings s;
    s.handle = [&](RunShared&, const LinkEvent& e) { return events.handle(e); };
    s.pause = pauses.hook();
    BoundedThread t([&] { run_link(r, s); });
    events.wait_events(1);
    d.write_file("village-off", "{}");
    off.open();
    if (!t.join_within(kPatience)) {
      ADD_FAILURE() << "the link went on after the village went off";
      stop_link(r);
      r.waker.end();
      EXPECT_TRUE(t.join_within(kPatience));
    }
    std::vector<std::string> want = {"ready"};
    if (owned) want.push_back(R"(command {"type":"stop"})");
    want.push_back("dropped");
    EXPECT_EQ(events.events(), want) << "village-owned " << owned;
  }
}

TEST_F(LinkTest, ClosedLinkHandsNoCommandOverAndDoesNotRegister) {
  testing::Gate& close = daemon.gate("close");
  daemon.stream(1, [&](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: ready\n\n"));
    close.wait();
    c.write(chunk("event: command\ndata: {\"type\":\"stop\"}\n\nevent: unknown-run\n\n"));
  });
  Pauses pauses(1);
  start(pauses.hook());
  recorder.wait_events(1);
  run.link.closed.store(true);
  close.open();
  finish();
  EXPECT_EQ(recorder.events(), (std::vector<std::string>{"ready", "dropped", "dropped"}));
  EXPECT_EQ(daemon.requests("POST /api/runs ").size(), 1u);
}

TEST_F(LinkTest, FailedHandlingEndsTheLink) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: command\ndata: {\"type\":\"stop\"}\n\nevent: ready\n\n"));
  });
  settings.handle = [](RunShared&, const LinkEvent&) {
    return failure(EAGAIN, "failed to spawn thread");
  };
  start();
  finish();
  EXPECT_EQ(result.code, EAGAIN);
  EXPECT_EQ(result.text, "failed to spawn thread");
  EXPECT_FALSE(run.link.copy_route().has_value());
}

TEST_F(LinkTest, RegistrationIsCopiedAtEachAttempt) {
  daemon.stream(1, [](ServerConnection& c) {
    c.write(kChunkedHead);
    c.write(chunk("event: unknown-run\n\n"));
  });
  Pauses pauses(1);
  start([&](RunShared& r, milliseconds d) {
    r.registration.update([](JsonValue& reg) { reg["nativeSessionId"] = "abc"; });
    return pauses.pause(r, d);
  });
  finish();
  auto registrations = daemon.requests("POST /api/runs ");
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_EQ(testing::request_body(registrations[1]),
            R"({"runId":"run-1","command":"agent","cwd":"/tmp","pid":1,"villageOwned":false,)"
            R"("nativeSessionId":"abc"})");
}

}  // namespace
}  // namespace mossbank::run
