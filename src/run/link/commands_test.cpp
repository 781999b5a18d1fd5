#include "run/link/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/pty_spawn.h"
#include "platform/pty.h"
#include "run/session/pty_agent.h"
#include "run/testing/test_daemon.h"
#include "run/testing/test_waits.h"

namespace mossbank::run {
namespace {

using Size = std::pair<uint16_t, uint16_t>;
using testing::kPatience;

// Records what the run asks of the agent.
class FakeAgent final : public AgentProcess {
 public:
  std::optional<uint32_t> process_id() const override { return 4242; }
  void resize(uint16_t cols, uint16_t rows) override {
    std::lock_guard lock(mutex_);
    resizes_.emplace_back(cols, rows);
  }
  Status kill(bool hard) override {
    {
      std::lock_guard lock(mutex_);
      kills_.push_back(hard ? "SIGKILL" : "SIGHUP");
    }
    changed_.notify_all();
    return ok_status();
  }
  Status interrupt() override { return ok_status(); }
  int32_t wait() override { return 0; }
  Status kill_group(bool) override { return ok_status(); }

  std::vector<Size> resizes() {
    std::lock_guard lock(mutex_);
    return resizes_;
  }
  std::vector<std::string> kills() {
    std::lock_guard lock(mutex_);
    return kills_;
  }
  std::vector<std::string> wait_kills(size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] { return kills_.size() >= n; });
    return kills_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Size> resizes_;
  std::vector<std::string> kills_;
};

class FakeSubscriber final : public Subscriber {
 public:
  void send(std::string bytes) override {
    queued += bytes.size();
    sent.push_back(std::move(bytes));
  }
  uint64_t queued_bytes() const override { return queued; }
  void shutdown() override { shut = true; }
  void close_channel() override { closed = true; }

  std::vector<std::string> sent;
  uint64_t queued = 0;
  bool shut = false;
  bool closed = false;
};

// A pseudo-terminal standing for the user's own terminal.
struct UserTerminal {
  UserTerminal(uint16_t cols, uint16_t rows) {
    int m = -1;
    int s = -1;
    if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) std::abort();
    master.reset(m);
    slave.reset(s);
    platform::set_terminal_size(m, cols, rows);
  }
  UniqueFd master;
  UniqueFd slave;
};

JsonValue json(const char* text) { return JsonValue::parse(text); }

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() : run(80, 24, daemon.home, "run-1") {
    run.agent = agent;
    run.input = pipe.input;
    run.registration.exchange(json(R"({"runId":"run-1","villageOwned":false})"));
  }
  ~CommandsTest() override {
    run.waker.end();
    run.jobs.join_all();
  }

  void handle(const JsonValue& command) {
    EXPECT_TRUE(handle_command(run, link_event::Command{command}).ok());
  }
  void handle(const char* command) { handle(json(command)); }

  Size screen_size() {
    std::lock_guard lock(run.screen_mutex);
    return {run.screen.terminal.cols, run.screen.terminal.rows};
  }

  // A run whose stdout was the user's terminal (of `cols` x `rows`).
  void own_terminal(UserTerminal& user) {
    run.size.update([](SizeRecord& size) { size.own_terminal = true; });
    run.has_own_terminal.store(true);
    run.user_terminal_fd = user.slave.get();
  }

  testing::FakeDaemon daemon;
  std::shared_ptr<FakeAgent> agent = std::make_shared<FakeAgent>();
  testing::InputPipe pipe;
  RunShared run;
};

TEST(SessionUuid, Forms) {
  struct Case {
    const char* text;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"0f8fad5b-d9cb-469f-a165-70867728950e", true},
      {"00000000-0000-0000-0000-000000000000", true},
      {"0F8FAD5B-D9CB-469F-A165-70867728950E", false},
      {"0f8fad5b-d9cb-469f-a165-70867728950", false},
      {"0f8fad5b-d9cb-469f-a165-70867728950e0", false},
      {"0f8fad5bd9cb-469f-a165-70867728950e-", false},
      {"0f8fad5b-d9cb-469f-a165-70867728950g", false},
      {"0f8fad5b-d9cb-469f-a165-70867728950e-", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_session_uuid(c.text), c.ok) << c.text;
}

TEST_F(CommandsTest, WhatIsNotACommandIsDropped) {
  for (const char* text : {R"([1])", R"("stop")", R"({})", R"({"type":5})", R"({"type":"Stop"})",
                           R"({"type":"reboot"})", "null"}) {
    handle(text);
  }
  EXPECT_TRUE(agent->kills().empty());
  EXPECT_FALSE(run.stopping.load());
}

TEST_F(CommandsTest, ResizeChecks) {
  struct Case {
    const char* command;
    std::optional<Size> taken;
  };
  const std::vector<Case> cases = {
      {R"({"type":"resize","cols":2,"rows":2})", Size{2, 2}},
      {R"({"type":"resize","cols":1000,"rows":1000})", Size{1000, 1000}},
      {R"({"type":"resize","cols":1,"rows":24})", std::nullopt},
      {R"({"type":"resize","cols":80,"rows":1001})", std::nullopt},
      {R"({"type":"resize","cols":-80,"rows":24})", std::nullopt},
      {R"({"type":"resize","cols":80.5,"rows":24})", std::nullopt},
      {R"({"type":"resize","cols":"80","rows":24})", std::nullopt},
      {R"({"type":"resize","cols":80})", std::nullopt},
      {R"({"type":"resize","cols":null,"rows":24})", std::nullopt},
      {R"({"type":"resize","cols":120,"rows":40})", Size{120, 40}},
  };
  for (const Case& c : cases) {
    const size_t before = agent->resizes().size();
    handle(c.command);
    auto resizes = agent->resizes();
    if (c.taken) {
      ASSERT_EQ(resizes.size(), before + 1) << c.command;
      EXPECT_EQ(resizes.back(), *c.taken) << c.command;
      EXPECT_EQ(screen_size(), *c.taken) << c.command;
    } else {
      EXPECT_EQ(resizes.size(), before) << c.command;
    }
  }
}

TEST_F(CommandsTest, WatchChecks) {
  struct Case {
    std::string join;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"panel-1", true},
      {std::string(64, 'a'), true},
      {std::string(65, 'a'), false},
      {"", false},
      {"a b", false},
      {"a_b", false},
      {"Z-9", true},
      {"caf\xC3\xA9", false},
  };
  // The watch starts a job that reads the publisher: read and write it
  // under its lock, as the run does.
  auto enabled = [&] {
    std::lock_guard lock(run.publisher_mutex);
    return run.publisher.enabled;
  };
  auto disable = [&] {
    std::lock_guard lock(run.publisher_mutex);
    run.publisher.enabled = false;
  };
  for (const Case& c : cases) {
    disable();
    JsonValue command = json(R"({"type":"watch"})");
    command["join"] = c.join;
    handle(command);
    EXPECT_EQ(enabled(), c.taken) << c.join;
  }
  disable();
  handle(R"({"type":"watch","join":7})");
  EXPECT_FALSE(enabled());
}

TEST_F(CommandsTest, InputLimits) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string emojis;
  for (int i = 0; i < 32768; ++i) emojis += emoji;
  struct Case {
    const char* what;
    JsonValue data;
    bool written;
  };
  const std::vector<Case> cases = {
      {"65,536 ASCII", std::string(65536, 'a'), true},
      {"65,537 ASCII", std::string(65537, 'a'), false},
      {"32,768 emoji", emojis, true},
      {"32,768 emoji and one more unit", emojis + "a", false},
      {"empty", "", false},
      {"not a text", 5, false},
      {"keys with controls", "ls -l\r\x1b[A", true},
  };
  for (const Case& c : cases) {
    JsonValue command = json(R"({"type":"input"})");
    command["data"] = c.data;
    handle(command);
    handle(R"({"type":"input","data":"|"})");
    std::string got = pipe.take_until("|");
    EXPECT_EQ(got, c.written ? c.data.get<std::string>() : "") << c.what;
  }
}

TEST_F(CommandsTest, InputIsNotedAsTyping) {
  handle(R"({"type":"input","data":"x"})");
  pipe.take_until("x");
  std::lock_guard lock(run.activity_mutex);
  EXPECT_GT(run.activity.last_input_at, 0);
  EXPECT_EQ(run.activity.echo_state, EchoState::none);
}

TEST_F(CommandsTest, SessionCommand) {
  struct Case {
    const char* command;
    const char* registration;  // after it
  };
  const std::vector<Case> cases = {
      {R"({"type":"session","sessionId":"abc","fromRecords":true})",
       R"({"runId":"run-1","villageOwned":false,"nativeSessionId":"abc","sessionFromRecords":true})"},
      {R"({"type":"session","sessionId":"def","fromRecords":"true"})",
       R"({"runId":"run-1","villageOwned":false,"nativeSessionId":"def"})"},
      {R"({"type":"session","sessionId":"","fromRecords":true})",
       R"({"runId":"run-1","villageOwned":false})"},
      {R"({"type":"session","sessionId":7})", R"({"runId":"run-1","villageOwned":false})"},
      {R"({"type":"session"})", R"({"runId":"run-1","villageOwned":false})"},
  };
  for (const Case& c : cases) {
    run.registration.exchange(json(R"({"runId":"run-1","villageOwned":false})"));
    handle(c.command);
    EXPECT_EQ(to_js_json(run.registration.copy()), c.registration) << c.command;
  }
  // 512 UTF-16 units are taken, 513 dropped.
  for (size_t length : {512u, 513u}) {
    run.registration.exchange(JsonValue::object());
    JsonValue command = json(R"({"type":"session"})");
    command["sessionId"] = std::string(length, 's');
    handle(command);
    EXPECT_EQ(run.registration.copy().contains("nativeSessionId"), length == 512) << length;
  }
}

TEST_F(CommandsTest, SessionFromRecordsRemovedTakesTheLastKey) {
  run.registration.exchange(json(R"({"runId":"r","sessionFromRecords":true,"cwd":"/","pid":1})"));
  set_session_id(run, "n1", false);
  // nativeSessionId came last and moves into the removed key's place.
  EXPECT_EQ(to_js_json(run.registration.copy()),
            R"({"runId":"r","nativeSessionId":"n1","cwd":"/","pid":1})");
  set_session_id(run, "n2", true);
  EXPECT_EQ(to_js_json(run.registration.copy()),
            R"({"runId":"r","nativeSessionId":"n2","cwd":"/","pid":1,"sessionFromRecords":true})");
  set_session_id(run, "n3", false);
  EXPECT_EQ(to_js_json(run.registration.copy()),
            R"({"runId":"r","nativeSessionId":"n3","cwd":"/","pid":1})");
}

TEST_F(CommandsTest, Screens) {
  struct Case {
    const char* command;
    bool screens;
    bool post_now;
  };
  const std::vector<Case> cases = {
      {R"({"type":"screens","on":true})", true, true},
      {R"({"type":"screens","on":true})", true, false},  // already on
      {R"({"type":"screens","on":"no"})", true, false},
      {R"({"type":"screens"})", true, false},
      {R"({"type":"screens","on":false})", false, false},
  };
  for (const Case& c : cases) {
    run.screen.post_now = false;
    handle(c.command);
    EXPECT_EQ(run.screen.screens, c.screens) << c.command;
    EXPECT_EQ(run.screen.post_now, c.post_now) << c.command;
  }
}

TEST_F(CommandsTest, StopHangsUpOnceAndKillsAfterTheGrace) {
  handle(R"({"type":"stop"})");
  handle(R"({"type":"stop"})");
  EXPECT_EQ(agent->kills(), std::vector<std::string>{"SIGHUP"});
  EXPECT_TRUE(run.stopping.load());
  // The run ends before the grace is over: no SIGKILL, and the timer's job
  // does not hold the end up.
  run.waker.end();
  run.jobs.join_all();
  EXPECT_EQ(agent->kills(), std::vector<std::string>{"SIGHUP"});
}

TEST_F(CommandsTest, StopTimerKillsHard) {
  ASSERT_TRUE(stop_agent(run, std::chrono::milliseconds(1)));
  EXPECT_EQ(agent->wait_kills(2), (std::vector<std::string>{"SIGHUP", "SIGKILL"}));
  ASSERT_TRUE(stop_agent(run, std::chrono::milliseconds(1)));
  run.jobs.join_all();
  EXPECT_EQ(agent->kills(), (std::vector<std::string>{"SIGHUP", "SIGKILL"}));
}

TEST_F(CommandsTest, StoppingDropsInputAndSizes) {
  UserTerminal user(120, 40);
  own_terminal(user);
  handle(R"({"type":"resize","cols":90,"rows":30})");
  handle(R"({"type":"stop"})");
  handle(R"({"type":"input","data":"dropped"})");
  handle(R"({"type":"resize","cols":100,"rows":50})");
  handle(R"({"type":"own-size"})");
  EXPECT_EQ(agent->resizes(), std::vector<Size>{Size(90, 30)});
  run.stopping.store(false);  // only to see what reached the agent
  handle(R"({"type":"input","data":"|"})");
  EXPECT_EQ(pipe.take_until("|"), "");
}

TEST_F(CommandsTest, SizeRulesWithATerminalOfItsOwn) {
  UserTerminal user(120, 40);
  own_terminal(user);

  handle(R"({"type":"resize","cols":90,"rows":30})");
  EXPECT_TRUE(run.size.copy().village_recorded && run.size.copy().village_in_force);
  EXPECT_EQ(screen_size(), Size(90, 30));
  // The stream drops: the user's size again.
  ASSERT_TRUE(handle_command(run, link_event::Dropped{}).ok());
  EXPECT_EQ(agent->resizes(), (std::vector<Size>{{90, 30}, {120, 40}}));
  EXPECT_FALSE(run.size.copy().village_recorded || run.size.copy().village_in_force);

  // own-size does the same.
  handle(R"({"type":"resize","cols":90,"rows":30})");
  handle(R"({"type":"own-size"})");
  EXPECT_EQ(agent->resizes().back(), Size(120, 40));
  // Nothing recorded: the village's input leaves the size alone.
  handle(R"({"type":"input","data":"a"})");
  EXPECT_EQ(agent->resizes().size(), 4u);

  // The user typed (the keys took the size back); the village's input puts
  // its recorded size in force again.
  handle(R"({"type":"resize","cols":90,"rows":30})");
  run.size.update([](SizeRecord& size) { size.village_in_force = false; });
  handle(R"({"type":"input","data":"b"})");
  EXPECT_EQ(agent->resizes().back(), Size(90, 30));
  EXPECT_TRUE(run.size.copy().village_in_force);
  EXPECT_EQ(agent->resizes().size(), 6u);
  EXPECT_EQ(pipe.take_until("b"), "a");
}

TEST_F(CommandsTest, SizeRulesWithoutATerminalOfItsOwn) {
  // stdout was no terminal: the village sizes the run, and a dropped stream
  // leaves that size.
  handle(R"({"type":"resize","cols":90,"rows":30})");
  ASSERT_TRUE(handle_command(run, link_event::Dropped{}).ok());
  handle(R"({"type":"own-size"})");
  EXPECT_EQ(agent->resizes(), std::vector<Size>{Size(90, 30)});
  EXPECT_EQ(screen_size(), Size(90, 30));
  EXPECT_FALSE(run.size.copy().village_recorded);

  // stdout was a terminal but the run is another's (MOSSBANK_RUN_AS): it
  // keeps its size.
  run.has_own_terminal.store(true);
  handle(R"({"type":"resize","cols":100,"rows":50})");
  EXPECT_EQ(agent->resizes().size(), 1u);
  EXPECT_EQ(screen_size(), Size(90, 30));
}

TEST_F(CommandsTest, ResizeScreenTellsTheStream) {
  struct Case {
    const char* what;
    bool attached;
    bool watched;
    bool backlog;
    size_t frames_sent;
    size_t backlog_frames;
  };
  const std::vector<Case> cases = {
      {"attached", true, true, false, 1, 0},
      {"watch pending with a backlog", false, true, true, 0, 1},
      {"not watched", false, false, false, 0, 0},
  };
  for (const Case& c : cases) {
    RunShared r(80, 24, daemon.home, "run-1");
    auto subscriber = std::make_shared<FakeSubscriber>();
    if (c.attached) r.publisher.subscriber = subscriber;
    r.publisher.enabled = c.watched;
    if (c.backlog) r.publisher.backlog.emplace();
    resize_screen(r, 100, 30);
    EXPECT_EQ(subscriber->sent.size(), c.frames_sent) << c.what;
    if (c.frames_sent) {
      EXPECT_EQ(subscriber->sent[0], encode_frame(size_frame(100, 30))) << c.what;
    }
    EXPECT_EQ(r.publisher.backlog ? r.publisher.backlog->size() : 0u, c.backlog_frames) << c.what;
    // Kept for a stream still to come only when none was told.
    EXPECT_EQ(r.publisher.last_size.has_value(), !c.watched) << c.what;
    if (r.publisher.last_size) {
      EXPECT_EQ(*r.publisher.last_size, (std::pair<uint16_t, uint16_t>(100, 30)));
    }
    EXPECT_EQ(r.screen.terminal.cols, 100u);
    EXPECT_EQ(r.screen.terminal.rows, 30u);
    EXPECT_TRUE(r.screen.post_now);
    EXPECT_GT(r.activity.last_resize_at, 0);
  }
}

TEST_F(CommandsTest, ResizeReflowsTheScreen) {
  {
    std::lock_guard lock(run.screen_mutex);
    terminal_process(run.screen.terminal, std::string(100, 'x') + "\r\n");
  }
  resize_screen(run, 120, 24);
  std::lock_guard lock(run.screen_mutex);
  EXPECT_EQ(screen_lines(run.screen.terminal).substr(0, 101), std::string(100, 'x') + "\n");
}

TEST_F(CommandsTest, CurrentSize) {
  UserTerminal user(132, 43);
  run.user_terminal_fd = user.slave.get();
  EXPECT_EQ(current_size(run), Size(132, 43));
  EXPECT_EQ(our_terminal_size(user.master.get()), std::make_optional(Size(132, 43)));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd a(fds[0]);
  UniqueFd b(fds[1]);
  run.user_terminal_fd = fds[1];
  EXPECT_EQ(current_size(run), Size(80, 24));  // the screen's
  EXPECT_FALSE(our_terminal_size(fds[1]).has_value());
  UserTerminal zero(0, 0);
  EXPECT_FALSE(our_terminal_size(zero.slave.get()).has_value());
}

TEST_F(CommandsTest, WatchSendsASnapshot) {
  auto subscriber = std::make_shared<FakeSubscriber>();
  subscriber->queued = 100;
  run.publisher.subscriber = subscriber;
  run.publisher.published = 1234;
  {
    std::lock_guard lock(run.screen_mutex);
    terminal_process(run.screen.terminal, "hello\x1b]0;title\x07");
  }
  handle(R"({"type":"watch","join":"panel-1"})");
  ASSERT_EQ(subscriber->sent.size(), 1u);
  std::string screen =
      serialize(run.screen.terminal, false) + serialize_presentation(run.screen.terminal);
  const std::string frame = encode_frame(snapshot_frame("panel-1", 1234, 0, 80, 24, screen));
  EXPECT_EQ(subscriber->sent[0], frame);
  EXPECT_TRUE(run.publisher.enabled);
  EXPECT_EQ(run.publisher.limit, frame.size() + kBacklogLimit);
  // Watch after watch while nothing is read: the limit stays where it was.
  subscriber->queued = 7u << 20;
  handle(R"({"type":"watch","join":"panel-1"})");
  EXPECT_EQ(run.publisher.limit, frame.size() + kBacklogLimit);
}

TEST_F(CommandsTest, WatchWithoutAStreamMarksTheWatch) {
  handle(R"({"type":"watch","join":"panel-1"})");
  EXPECT_TRUE(run.publisher.enabled);
  EXPECT_FALSE(run.publisher.backlog.has_value());
}

TEST_F(CommandsTest, UnwatchAndDroppedEndTheWatch) {
  for (bool dropped : {false, true}) {
    auto subscriber = std::make_shared<FakeSubscriber>();
    run.publisher.subscriber = subscriber;
    run.publisher.enabled = true;
    run.publisher.backlog.emplace();
    run.publisher.last_size = std::make_pair(uint16_t{90}, uint16_t{30});
    const uint64_t generation = run.publisher.generation;
    if (dropped)
      ASSERT_TRUE(handle_command(run, link_event::Dropped{}).ok());
    else
      handle(R"({"type":"unwatch"})");
    EXPECT_TRUE(subscriber->closed);
    EXPECT_FALSE(run.publisher.subscriber);
    EXPECT_FALSE(run.publisher.enabled);
    EXPECT_FALSE(run.publisher.backlog.has_value());
    EXPECT_FALSE(run.publisher.last_size.has_value());
    EXPECT_EQ(run.publisher.generation, generation + 1);
  }
}

TEST_F(CommandsTest, ReadyPostsActivityAndColoursAgain) {
  run.link.set_route(Route{daemon.port(), testing::FakeDaemon::kToken});
  ASSERT_TRUE(handle_command(run, link_event::Ready{}).ok());
  EXPECT_TRUE(run.screen.post_now);
  EXPECT_TRUE(daemon.requests("POST").empty());  // nothing posted before

  run.activity.last_posted = json(R"({"working":true,"asked":false})");
  run.colours.update([](ColourRecord& c) { c.colours = json(R"({"background":"#1e1e1e"})"); });
  ASSERT_TRUE(handle_command(run, link_event::Ready{}).ok());
  auto posts = daemon.requests("POST");
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_TRUE(posts[0].starts_with("POST /api/runs/run-1/activity "));
  EXPECT_EQ(testing::request_body(posts[0]), R"({"working":true,"asked":false})");
  EXPECT_TRUE(posts[1].starts_with("POST /api/runs/run-1/colours "));
  EXPECT_EQ(testing::request_body(posts[1]), R"({"background":"#1e1e1e"})");
}

}  // namespace
}  // namespace mossbank::run
