#include "run/session/pump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <future>

#include <gtest/gtest.h>

#include "base/test_threads.h"
#include "run/testing/test_waits.h"

namespace mossbank::run {
namespace {

using base::testing::BoundedThread;
using testing::kPatience;

// The pump between two pipes: the test writes what the agent would, and
// reads what the user's terminal would get.
class PumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int agent[2], user[2];
    ASSERT_EQ(pipe(agent), 0);
    ASSERT_EQ(pipe(user), 0);
    master_ = std::make_shared<PtyMaster>();
    master_->fd.reset(agent[0]);
    agent_out_.reset(agent[1]);
    user_in_.reset(user[0]);
    user_out_.reset(user[1]);
    fcntl(user_in_.get(), F_SETFL, O_NONBLOCK);
    run_ = std::make_shared<RunShared>(20, 4, "", "r");
    run_->has_own_terminal.store(true);
    {
      std::lock_guard lock(run_->publisher_mutex);
      run_->publisher.backlog.emplace();
    }
    input_ = std::make_shared<AgentInput>(master_);
    pump_ = BoundedThread([this] {
      run_output_pump(run_, master_, input_, control_, PumpTarget{user_out_.get(), &stdout_mutex_});
    });
  }

  void TearDown() override {
    agent_out_.reset();
    EXPECT_TRUE(pump_.join_within(kPatience)) << "the pump did not end";
  }

  // `feeds`: whether the bytes make text for the screen (not only the start
  // of a character).
  void agent_writes(std::string_view bytes, bool feeds = true) {
    const uint64_t reads = control_.reads();
    const uint64_t before = generation();
    ASSERT_EQ(write(agent_out_.get(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    // Wait until the pump has taken the read and the screen has it (bounded;
    // never the assertion).
    auto done = [&] { return control_.reads() != reads && (!feeds || generation() != before); };
    for (int i = 0; i < 2000 && !done(); ++i) usleep(5000);
    ASSERT_TRUE(done());
  }

  uint64_t generation() {
    std::lock_guard lock(run_->screen_mutex);
    return run_->screen.generation;
  }

  uint64_t fed() {
    std::lock_guard lock(run_->screen_mutex);
    return run_->screen_fed;
  }

  std::string user_got() {
    std::string out;
    char buf[256];
    for (;;) {
      ssize_t n = read(user_in_.get(), buf, sizeof buf);
      if (n <= 0) return out;
      out.append(buf, static_cast<size_t>(n));
    }
  }

  std::shared_ptr<PtyMaster> master_;
  UniqueFd agent_out_, user_in_, user_out_;
  std::shared_ptr<RunShared> run_;
  std::shared_ptr<AgentInput> input_;
  PumpControl control_;
  std::mutex stdout_mutex_;
  BoundedThread pump_;
};

TEST_F(PumpTest, ACharacterCutBetweenReadsReachesTheUserWhole) {
  agent_writes("\xE2\x82", false);
  EXPECT_EQ(user_got(), "");
  agent_writes("\xAC");
  EXPECT_EQ(user_got(), "\xE2\x82\xAC");
}

TEST_F(PumpTest, InvalidBytesBecomeReplacementCharacters) {
  agent_writes(
      "a\xFF"
      "b");
  EXPECT_EQ(user_got(),
            "a\xEF\xBF\xBD"
            "b");
}

TEST_F(PumpTest, TheScreenAndTheFramesGetWhatTheUserGot) {
  agent_writes("hello\r\nworld");
  EXPECT_EQ(user_got(), "hello\r\nworld");
  {
    std::lock_guard lock(run_->screen_mutex);
    EXPECT_EQ(screen_lines(run_->screen.terminal), "hello\nworld\n\n");
    EXPECT_TRUE(run_->screen.post_now);
  }
  std::lock_guard lock(run_->publisher_mutex);
  EXPECT_EQ(run_->publisher.published, 12u);
  ASSERT_TRUE(run_->publisher.backlog);
  ASSERT_EQ(run_->publisher.backlog->size(), 1u);
  EXPECT_EQ(run_->publisher.backlog->front().body, "hello\r\nworld");
}

// A burst larger than the pump feeds itself goes to the feeder, whose
// wake-up the pump puts off while more output is ready: once the burst is
// over the screen catches up without a request asking for it.
TEST_F(PumpTest, TheScreenCatchesUpAfterABurstWithoutARequest) {
  agent_writes("ready");  // the feeder runs, and waits for work
  const std::string burst(6000, 'x');
  agent_writes(burst);
  EXPECT_EQ(user_got(), "ready" + burst);
  EXPECT_EQ(fed(), 5 + burst.size());
}

// Small reads (fed on the pump's thread) and large ones (fed by the
// feeder) reach the screen's frames in the order the agent wrote them.
TEST_F(PumpTest, SmallAndLargeReadsReachTheFramesInOrder) {
  std::string all;
  for (int i = 0; i < 12; ++i) {
    const size_t size = i % 2 == 0 ? 5000 : 2;
    const std::string piece(size, static_cast<char>('a' + i));
    agent_writes(piece);
    all += piece;
    (void)user_got();
  }
  for (int i = 0; i < 2000 && fed() < all.size(); ++i) usleep(5000);
  ASSERT_EQ(fed(), all.size());
  std::string framed;
  std::lock_guard lock(run_->publisher_mutex);
  ASSERT_TRUE(run_->publisher.backlog);
  for (const Frame& frame : *run_->publisher.backlog) framed += frame.body;
  EXPECT_EQ(framed, all);
  EXPECT_EQ(run_->publisher.published, all.size());
}

// The screen's feeder is held off while the user gets the output; a request
// reading the screen then still reads what the user got.
TEST_F(PumpTest, ARequestReadsNoLessThanTheUserGot) {
  std::string seen;
  BoundedThread request;
  {
    std::unique_lock hold(run_->screen_mutex);
    ASSERT_EQ(write(agent_out_.get(), "hello", 5), 5);
    std::string got;
    for (int i = 0; i < 2000 && got.size() < 5; ++i) {
      got += user_got();
      if (got.size() < 5) usleep(5000);
    }
    ASSERT_EQ(got, "hello");
    request = BoundedThread([&] {
      auto lock = run_->lock_current_screen();
      seen = screen_lines(run_->screen.terminal);
    });
  }
  ASSERT_TRUE(request.join_within(kPatience));
  EXPECT_EQ(seen, "hello\n\n\n");
}

// The user's terminal takes nothing (paused, or full): a request still gets
// the screen with everything the pump read.
TEST_F(PumpTest, ARequestDoesNotWaitOnAPausedTerminal) {
  // Fill the user's side so that the pump's next write blocks.
  const int flags = fcntl(user_out_.get(), F_GETFL);
  fcntl(user_out_.get(), F_SETFL, flags | O_NONBLOCK);
  const std::string filler(4096, 'x');
  while (write(user_out_.get(), filler.data(), filler.size()) > 0) {}
  while (write(user_out_.get(), filler.data(), 1) > 0) {}
  fcntl(user_out_.get(), F_SETFL, flags);

  ASSERT_EQ(write(agent_out_.get(), "hello", 5), 5);
  for (int i = 0; i < 2000 && run_->screen_handed.load() < 5; ++i) usleep(5000);
  ASSERT_EQ(run_->screen_handed.load(), 5u);

  std::promise<std::string> seen;
  BoundedThread request([&] {
    auto lock = run_->lock_current_screen();
    seen.set_value(screen_lines(run_->screen.terminal));
  });
  std::future<std::string> got = seen.get_future();
  const bool answered = got.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  // Let the pump go on, whatever happened.
  std::string drained;
  while (drained.find("hello") == std::string::npos) {
    std::string more = user_got();
    drained += more;
    if (drained.size() > 64) drained.erase(0, drained.size() - 64);
    if (more.empty()) usleep(1000);
  }
  ASSERT_TRUE(request.join_within(kPatience));
  ASSERT_TRUE(answered);
  EXPECT_EQ(got.get(), "hello\n\n\n");
}

TEST_F(PumpTest, EndsAtEndOfFile) {
  agent_out_.reset();
  EXPECT_TRUE(pump_.join_within(kPatience));
}

TEST_F(PumpTest, AChildHoldingThePtyOpenIsDrainedThenLeft) {
  agent_writes("last words");
  control_.agent_exited();
  // The writer stays open: the drain ends the pump.
  EXPECT_TRUE(pump_.join_within(kPatience));
  EXPECT_EQ(user_got(), "last words");
}

}  // namespace
}  // namespace mossbank::run
