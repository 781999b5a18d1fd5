#include "run/session/run_threads.h"

#include "run/testing/test_waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace mossbank::run {
namespace {

using testing::Gate;
using testing::kPatience;

struct Failures {
  std::mutex mutex;
  std::vector<std::string> seen;
  ThreadFailure callback() {
    return [this](std::string_view name, std::string_view why) {
      std::lock_guard lock(mutex);
      seen.push_back(std::string(name) + ": " + std::string(why));
    };
  }
};

TEST(RunThreads, AFailureReturnedOrThrownIsToldUnderTheThreadsName) {
  struct Case {
    const char* name;
    std::function<Status()> body;
    std::vector<std::string> told;
  };
  const std::vector<Case> cases = {
      {"output", [] { return ok_status(); }, {}},
      {"screen", [] { return failure(EIO, "no screen"); }, {"screen: no screen"}},
      {"village's commands",
       []() -> Status { throw std::runtime_error("bad event"); },
       {"village's commands: bad event"}},
      {"update watch", []() -> Status { throw 7; }, {"update watch: a panic"}},
  };
  for (const Case& c : cases) {
    Failures failures;
    {
      RunThreads threads;
      EXPECT_TRUE(threads.start(c.name, c.body, failures.callback()));
      threads.join_all();
    }
    EXPECT_EQ(failures.seen, c.told) << c.name;
  }
}

TEST(RunThreads, GoingWithThreadsHeldUnwindsThenJoinsThemAll) {
  Gate gate;
  std::atomic<int> released{0};
  std::atomic<int> unwinds{0};
  {
    RunThreads threads([&] {
      ++unwinds;
      gate.open();
    });
    for (const char* name : {"daemon watch", "output", "screen"}) {
      threads.start(name,
                    [&] {
                      if (gate.wait_for(kPatience)) ++released;
                      return ok_status();
                    },
                    {});
    }
    // An early return: nothing ends the run or joins its threads.
  }
  EXPECT_EQ(unwinds.load(), 1);
  EXPECT_EQ(released.load(), 3);
}

TEST(RunThreads, ThreadsJoinedOnTheWayNeedNoUnwind) {
  std::atomic<int> unwinds{0};
  {
    RunThreads threads([&] { ++unwinds; });
    threads.start("output", [] { return ok_status(); }, {});
    threads.join_all();
  }
  EXPECT_EQ(unwinds.load(), 0);
}

TEST(RunThreads, JoiningOneByNameLeavesTheOthersInTheirOrder) {
  Gate gate;
  RunThreads threads([&] { gate.open(); });
  std::atomic<bool> output_done{false};
  auto waits = [&] {
    gate.wait_for(kPatience);
    return ok_status();
  };
  threads.start("daemon watch", waits, {});
  threads.start("output",
                [&] {
                  output_done = true;
                  return ok_status();
                },
                {});
  threads.start("screen", waits, {});
  threads.join("output");
  EXPECT_TRUE(output_done.load());
  EXPECT_EQ(threads.names(), (std::vector<std::string>{"daemon watch", "screen"}));
  threads.join("nothing by this name");
  EXPECT_EQ(threads.names(), (std::vector<std::string>{"daemon watch", "screen"}));
  gate.open();
  threads.join_all();
  EXPECT_TRUE(threads.names().empty());
}

}  // namespace
}  // namespace mossbank::run
