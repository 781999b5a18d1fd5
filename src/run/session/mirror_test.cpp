#include "run/session/mirror.h"

#include <gtest/gtest.h>

#include "base/test_threads.h"
#include "run/testing/test_waits.h"

#include <condition_variable>

#include "daemon/test_loopback_server.h"
#include "run/link/posts.h"
#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

using base::testing::BoundedThread;

using namespace std::chrono_literals;

TEST(MirrorSnapshot, KeysInOrderWithAndWithoutTheSerialisedScreen) {
  ScreenRecord screen;
  screen.terminal = terminal_new(10, 3);
  terminal_process(screen.terminal, "\x1b[31mab\x1b[m\x1b[?25l");
  const std::string rest =
      R"("cols":10,"rows":3,"text":"ab\n\n","coloured":"\u001b[0;31mab\u001b[0m\n\n",)"
      R"("caret":{"x":2,"y":0},"at":1712345678901})";
  EXPECT_EQ(to_js_json(snapshot_body(take_snapshot(screen, 1712345678901))), "{" + rest);
  screen.screens = true;
  EXPECT_EQ(to_js_json(snapshot_body(take_snapshot(screen, 1712345678901))),
            R"({"serialized":"\u001b[31mab\u001b[0m\u001b[1;3H\u001b[?25l",)" + rest);
}

TEST(MirrorSnapshot, TheVisibleRowsOnly) {
  ScreenRecord screen;
  screen.terminal = terminal_new(10, 2);
  screen.screens = true;
  terminal_process(screen.terminal, "one\r\ntwo\r\nthree");
  const ScreenSnapshot s = take_snapshot(screen, 0);
  EXPECT_EQ(s.text, "two\nthree");
  EXPECT_EQ(s.serialized->find("one"), std::string::npos);
  EXPECT_NE(s.serialized->find("three"), std::string::npos);
}

TEST(MirrorThrottle, WhenAChangeIsLookedAt) {
  using T = MirrorClock::time_point;
  const T t0 = T{} + 1000s;
  const MirrorTimings m;
  const struct {
    const char* what;
    T now, hold_until, last_look, changed_at, expected;
  } cases[] = {
      {"idle: once it settled", t0, T{}, T{}, t0, t0 + 40ms},
      {"calm: 250 ms after the last look", t0, T{}, t0 - 100ms, t0, t0 + 150ms},
      {"calm: a burst waits for the same look", t0 + 200ms, T{}, t0 - 10ms, t0, t0 + 240ms},
      {"hold: at once", t0, t0 + 1s, t0 - 100ms, t0, t0},
      {"hold: 40 ms after the last look", t0, t0 + 1s, t0 - 10ms, t0, t0 + 30ms},
      {"hold just over: calm again", t0, t0, t0 - 100ms, t0, t0 + 150ms},
  };
  for (const auto& c : cases)
    EXPECT_EQ(next_look_at(m, c.now, c.hold_until, c.last_look, c.changed_at), c.expected)
        << c.what;
}

TEST(MirrorThrottle, TheHoldLastsASecondAndAHalfAndWakesTheMirror) {
  RunShared run(80, 24, "", "r");
  const auto before = MirrorClock::now();
  hold_state_briefly(run);
  EXPECT_TRUE(run.mirror_wake.load());
  const MirrorClock::time_point until = run.hold_until.copy();
  EXPECT_GE(until, before + 1500ms);
  EXPECT_LE(until, MirrorClock::now() + 1500ms);
}

// A run with its mirror running against a loopback daemon that records the
// posts.
class MirrorRun {
 public:
  MirrorRun()
      : server_([this](daemon::testing::ServerConnection& conn, const std::string& request) {
          {
            std::lock_guard lock(mutex_);
            posts_.emplace_back(daemon::testing::request_path(request),
                                daemon::testing::request_body(request));
          }
          changed_.notify_all();
          conn.write("HTTP/1.1 200 OK\r\ncontent-length: 0\r\n\r\n");
        }) {
    run = std::make_shared<RunShared>(20, 3, home_.path(), "run-2");
    run->link.set_route(Route{server_.port(), "token"});
    run->poster = std::make_unique<Poster>(run->link);
    thread_ = BoundedThread([r = run] { run_mirror(r); });
  }
  ~MirrorRun() {
    run->waker.end();
    EXPECT_TRUE(thread_.join_within(testing::kPatience)) << "the mirror did not end";
    run->poster.reset();
  }

  void output(std::string_view bytes) {
    std::lock_guard lock(run->screen_mutex);
    terminal_process(run->screen.terminal, bytes);
    run->screen_changed_locked();
  }

  // The bodies posted to `path`, once `done` holds for them.
  std::vector<JsonValue> wait_posts(
      const std::string& path, const std::function<bool(const std::vector<JsonValue>&)>& done) {
    std::unique_lock lock(mutex_);
    std::vector<JsonValue> bodies;
    changed_.wait_for(lock, 60s, [&] {
      bodies.clear();
      for (const auto& [p, body] : posts_)
        if (p == path) bodies.push_back(*parse_json(body));
      return done(bodies);
    });
    return bodies;
  }

  std::shared_ptr<RunShared> run;
  BoundedThread thread_;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, std::string>> posts_;
  daemon::testing::LoopbackServer server_;
  testing::ScratchDir home_;
};

std::function<bool(const std::vector<JsonValue>&)> last_text_has(const std::string& text) {
  return [text](const std::vector<JsonValue>& bodies) {
    return !bodies.empty() &&
           bodies.back()["text"].get<std::string>().find(text) != std::string::npos;
  };
}

// Each post follows a change: with two changes far apart there are two posts,
// and none of the same screen in between.
TEST(MirrorLoop, PostsTheScreenOnlyWhenItChanged) {
  MirrorRun m;
  m.output("hello");
  auto posts = m.wait_posts("/api/runs/run-2/screen", last_text_has("hello"));
  ASSERT_EQ(posts.size(), 1u);
  m.output(" world");
  posts = m.wait_posts("/api/runs/run-2/screen", last_text_has("world"));
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0]["text"], "hello\n\n");
  EXPECT_EQ(posts[1]["text"], "hello world\n\n");
  EXPECT_FALSE(posts[1].contains("serialized"));
  EXPECT_EQ(posts[1]["caret"]["x"], 11);
}

// What a new command stream's ready or the village's "screens" do.
TEST(MirrorLoop, TheMarkRaisedWithoutOutputIsPostedToo) {
  MirrorRun m;
  {
    std::lock_guard lock(m.run->screen_mutex);
    terminal_process(m.run->screen.terminal, "quiet");
    m.run->screen.post_now = true;
  }
  const auto posts = m.wait_posts("/api/runs/run-2/screen", last_text_has("quiet"));
  EXPECT_EQ(posts.size(), 1u);
}

TEST(MirrorLoop, SerialisedWhileScreensAreOn) {
  MirrorRun m;
  {
    std::lock_guard lock(m.run->screen_mutex);
    m.run->screen.screens = true;
  }
  m.output("abc");
  const auto posts = m.wait_posts("/api/runs/run-2/screen", last_text_has("abc"));
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].begin().key(), "serialized");
  EXPECT_EQ(posts[0]["serialized"], "abc\x1b[1;4H");
}

TEST(MirrorLoop, WorkingLapsesOnceTheAgentIsQuiet) {
  MirrorRun m;
  {
    std::lock_guard lock(m.run->activity_mutex);
    m.run->activity.working = true;
    m.run->activity.asked = true;
    m.run->activity.village_talk = true;
    m.run->activity.last_busy_at = now_ms() - 2600;
  }
  m.output("x");
  const auto posts =
      m.wait_posts("/api/runs/run-2/activity", [](const auto& bodies) { return !bodies.empty(); });
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(to_js_json(posts[0]), R"({"working":false,"asked":false})");
  std::lock_guard lock(m.run->activity_mutex);
  EXPECT_FALSE(m.run->activity.working);
  EXPECT_FALSE(m.run->activity.village_talk);
}

TEST(MirrorLoop, EndsAtItsNextLookOnceStopping) {
  MirrorRun m;
  m.run->stopping = true;
  m.output("wakes it");
  EXPECT_TRUE(m.thread_.join_within(testing::kPatience));
}

}  // namespace
}  // namespace mossbank::run
