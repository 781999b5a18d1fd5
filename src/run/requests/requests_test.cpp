#include "run/requests/requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "base/test_threads.h"
#include "run/requests/new_conversation.h"
#include "run/testing/test_daemon.h"
#include "run/testing/test_files.h"
#include "run/testing/test_waits.h"

namespace mossbank::run {
namespace {

using std::chrono::milliseconds;

struct Read {
  ReceiptRead read;
  milliseconds at;
  bool current = true;
};

// The receipt of a run of reads, and after how many reads it came.
std::pair<std::optional<Receipt>, size_t> watch(const std::vector<Read>& reads) {
  ReceiptWatch w;
  for (size_t k = 0; k < reads.size(); ++k) {
    if (auto receipt = w.next(reads[k].current, reads[k].read, reads[k].at))
      return {receipt, k + 1};
  }
  return {std::nullopt, reads.size()};
}

TEST(ReceiptWatch, Stages) {
  const ReceiptRead box{};                     // the text still in the box
  const ReceiptRead gone{true, false, false};  // taken, the agent quiet
  const ReceiptRead busy{true, true, false};   // taken, the agent working
  const ReceiptRead asked{false, false, true};
  const Receipt taken{"taken", std::nullopt, std::nullopt};
  const Receipt turn{"taken", true, std::nullopt};
  struct Case {
    const char* what;
    std::vector<Read> reads;
    std::optional<Receipt> receipt;
    size_t after;
  };
  const std::vector<Case> cases = {
      {"taken twice in a row", {{gone, milliseconds(0)}, {busy, milliseconds(120)}}, turn, 2},
      {"taken once, back in the box, taken twice",
       {{gone, milliseconds(0)},
        {box, milliseconds(120)},
        {gone, milliseconds(240)},
        {gone, milliseconds(360)}},
       taken,
       4},
      {"a question while the text waits",
       {{box, milliseconds(0)}, {asked, milliseconds(120)}},
       Receipt{"untaken", std::nullopt, "question"},
       2},
      {"no longer current",
       {{box, milliseconds(0)}, {box, milliseconds(120), false}},
       Receipt{"unconfirmed", std::nullopt, std::nullopt},
       2},
      {"five seconds in the box",
       {{box, milliseconds(4990)}, {box, milliseconds(5000)}},
       Receipt{"untaken", std::nullopt, "box"},
       2},
      {"taken just at the end", {{box, milliseconds(4900)}, {busy, milliseconds(5020)}}, turn, 2},
      {"still waiting", {{box, milliseconds(0)}, {gone, milliseconds(120)}}, std::nullopt, 2},
  };
  for (const Case& c : cases) {
    auto [receipt, after] = watch(c.reads);
    EXPECT_EQ(receipt, c.receipt) << c.what;
    EXPECT_EQ(after, c.after) << c.what;
  }
}

TEST(RequestBodies, KeysInOrder) {
  EXPECT_EQ(to_js_json(talk_result_body("", "maybe-pasted")),
            R"({"requestId":"","outcome":"maybe-pasted"})");
  EXPECT_EQ(to_js_json(talk_receipt_body("r1", {"taken", true, std::nullopt})),
            R"({"requestId":"r1","stage":"taken","turn":true})");
  EXPECT_EQ(to_js_json(talk_receipt_body("r1", {"untaken", std::nullopt, "question"})),
            R"({"requestId":"r1","stage":"untaken","where":"question"})");
  EXPECT_EQ(to_js_json(talk_receipt_body("r1", {"unconfirmed", std::nullopt, std::nullopt})),
            R"({"requestId":"r1","stage":"unconfirmed"})");
}

class GateTest : public ::testing::Test {
 protected:
  GateTest() : run(80, 24, daemon.home, "run-1") {
    run.link.set_route(Route{daemon.port(), testing::FakeDaemon::kToken});
  }
  ~GateTest() override {
    run.waker.end();
    run.jobs.join_all();
  }
  std::vector<std::string> results() {
    std::vector<std::string> bodies;
    for (const std::string& r : daemon.requests("POST /api/runs/run-1/talk-result "))
      bodies.push_back(testing::request_body(r));
    return bodies;
  }

  testing::FakeDaemon daemon;
  testing::InputPipe pipe;  // outlives the run, which holds its write end
  RunShared run;
};

TEST_F(GateTest, OneAtATimeAndNoneWhileStopping) {
  const JsonValue talk = JsonValue::parse(R"({"type":"talk","requestId":"b","text":"x"})");
  const JsonValue interrupt = JsonValue::parse(R"({"type":"interrupt","requestId":"c"})");

  // Without a text requestId nothing is taken or answered.
  EXPECT_TRUE(
      take_village_request(run, JsonValue::parse(R"({"type":"talk","requestId":7})"), "talk"));
  EXPECT_FALSE(run.gate.busy.load());

  run.gate.busy.store(true);  // a request runs
  EXPECT_TRUE(take_village_request(run, talk, "talk"));
  EXPECT_FALSE(run.gate.interrupt.load());
  EXPECT_TRUE(take_village_request(run, interrupt, "interrupt"));
  EXPECT_TRUE(run.gate.interrupt.load());  // the running request's receipt gives up

  run.gate.busy.store(false);
  run.stopping.store(true);
  EXPECT_TRUE(take_village_request(run, talk, "talk"));
  EXPECT_FALSE(run.gate.busy.load());
  EXPECT_EQ(results(), (std::vector<std::string>{R"({"requestId":"b","outcome":"busy"})",
                                                 R"({"requestId":"c","outcome":"busy"})",
                                                 R"({"requestId":"b","outcome":"unavailable"})"}));
}

// A Claude Code talk carried out by the worker on its own thread, while the
// screen is drawn again and again and the user's terminal sends reports
// (which pass nothing and leave the request current): the text and Enter
// reach the agent, the result and the receipt reach the village.
TEST_F(GateTest, AClaudeTalkThroughTheWorker) {
  run.input = pipe.input;
  const std::string idle = testing::agent_capture("claude/idle-80x24.raw");
  {
    std::lock_guard lock(run.screen_mutex);
    run.screen.agent = "claude";
    terminal_process(run.screen.terminal, idle);
    run.screen_changed_locked();
  }

  std::atomic<bool> done{false};
  std::thread others([&] {
    while (!done.load()) {
      {
        std::lock_guard lock(run.screen_mutex);
        terminal_process(run.screen.terminal, "\x1b[H");
        run.screen_changed_locked();
      }
      EXPECT_EQ(filter_user_keys(run, "\x1b[I", screen::KeyClock::now()).bytes, "");
      (void)has_hand_draft(run);
    }
  });

  ASSERT_TRUE(take_village_request(
      run, JsonValue::parse(R"({"type":"talk","requestId":"t","text":"hi"})"), "talk"));
  EXPECT_EQ(pipe.take_until("\r"), "hi");  // the text, then Enter
  // The worker ends after its last post, the receipt.
  run.jobs.join_all();
  done.store(true);
  others.join();
  EXPECT_EQ(results(), std::vector<std::string>{R"({"requestId":"t","outcome":"sent"})"});
  const auto receipts = daemon.requests("POST /api/runs/run-1/talk-receipt ");
  ASSERT_EQ(receipts.size(), 1u);
  EXPECT_EQ(testing::request_body(receipts[0]), R"({"requestId":"t","stage":"taken"})");
  EXPECT_FALSE(run.gate.busy.load());
  std::lock_guard lock(run.activity_mutex);
  EXPECT_TRUE(run.activity.village_talk);
}

// An Enter typed by hand reads the box once the feeder has put on the screen
// what the pump had handed it: the line the user sees is the line posted.
TEST_F(GateTest, AnEnterByHandReadsTheScreenTheFeederCatchesUpTo) {
  {
    std::lock_guard lock(run.screen_mutex);
    run.screen.agent = "codex";
  }
  run.screen_handed.store(1);  // handed over, not yet fed
  std::unique_lock feeder(run.feeder_mutex);
  base::testing::BoundedThread enter([&] { EXPECT_TRUE(tell_typed_line(run, 0)); });
  // A reader that waits for the feeder wakes it; the bound only keeps a
  // reader that never waits from hanging the test.
  run.feeder_ready.wait_for(feeder, std::chrono::seconds(5));
  feeder.unlock();
  {
    std::lock_guard lock(run.screen_mutex);
    terminal_process(run.screen.terminal, "\u203a fix it");
    run.screen_fed = 1;
    run.screen_changed_locked();
  }
  run.screen_fed_cv.notify_all();
  ASSERT_TRUE(enter.join_within(testing::kPatience)) << "the Enter never read the fed screen";
  run.jobs.join_all();
  const auto posts = daemon.requests("POST /api/runs/run-1/typed ");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(testing::request_body(posts[0]), R"({"line":"fix it"})");
}

}  // namespace
}  // namespace mossbank::run
