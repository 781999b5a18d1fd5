#include "base/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <stdexcept>

namespace mossbank {
namespace {

// A gate the test opens; waits are bounded so that a fault fails, not hangs.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  void let_go() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
  }
};

TEST(JobThreads, EndedJobsAreJoinedAsTheyEnd) {
  JobThreads jobs;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(jobs.start("job", [] {}));
    // Once a job has ended, only it may be left unjoined: the one before it
    // was joined by it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (jobs.unjoined() > 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    ASSERT_LE(jobs.unjoined(), 1u) << "after job " << i;
  }
  Gate first_may_end;
  std::atomic<int> ended{0};
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(jobs.start("job", [&, i] {
      if (i == 0) first_may_end.wait();
      ended.fetch_add(1);
    }));
  }
  // 49 jobs end while one runs: all but the last to end are joined already.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((ended.load() < 49 || jobs.unjoined() > 2) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(ended.load(), 49);
  EXPECT_LE(jobs.unjoined(), 2u);
  first_may_end.let_go();
  jobs.join_all();
  EXPECT_EQ(ended.load(), 50);
  EXPECT_EQ(jobs.unjoined(), 0u);
}

TEST(JobThreads, JoinAllWaitsForJobsStartedByJobs) {
  std::atomic<int> ran{0};
  JobThreads jobs;
  ASSERT_TRUE(jobs.start("outer", [&] {
    ran.fetch_add(1);
    jobs.start("inner", [&] { ran.fetch_add(1); });
  }));
  jobs.join_all();
  EXPECT_EQ(ran.load(), 2);
}

TEST(JobThreads, AFailureIsNotedUnderTheJobsName) {
  std::mutex mutex;
  std::vector<std::string> notes;
  {
    JobThreads jobs([&](std::string_view name, std::string_view why) {
      std::lock_guard lock(mutex);
      notes.push_back(std::string(name) + ": " + std::string(why));
    });
    jobs.start("thrower", [] { throw std::runtime_error("broke"); });
    jobs.start("panicker", [] { throw 7; });
    jobs.start("fine", [] {});
  }  // the destructor joins
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes, (std::vector<std::string>{"panicker: a panic", "thrower: broke"}));
}

TEST(StartThread, AReturnedOrThrownFailureGoesToTheCallback) {
  struct Case {
    std::function<Status()> body;
    std::optional<std::string> note;
  };
  const std::vector<Case> cases = {
      {[] { return ok_status(); }, std::nullopt},
      {[] { return failure(EHOSTUNREACH, "no route"); }, "pump: no route"},
      {[]() -> Status { throw std::runtime_error("bad"); }, "pump: bad"},
  };
  for (const Case& c : cases) {
    std::optional<std::string> note;
    std::optional<std::thread> t =
        start_thread("pump", c.body, [&](std::string_view name, std::string_view why) {
          note = std::string(name) + ": " + std::string(why);
        });
    ASSERT_TRUE(t);
    t->join();
    EXPECT_EQ(note, c.note);
  }
}

TEST(Guarded, UpdatesAndCopiesUnderItsLock) {
  Guarded<std::vector<int>> list;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) list.update([](std::vector<int>& v) { v.push_back(1); });
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(list.copy().size(), 4000u);
  EXPECT_EQ(list.update([](std::vector<int>& v) { return v.size(); }), 4000u);
  EXPECT_EQ(list.exchange({}).size(), 4000u);
  EXPECT_TRUE(list.copy().empty());
}

}  // namespace
}  // namespace mossbank
