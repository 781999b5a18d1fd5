// A thread for tests whose failure mode is a hang: join_within() waits a
// bounded time for the body to end, so a body that never returns fails its
// test with a message instead of holding ctest until its timeout.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace mossbank::base::testing {

class BoundedThread {
 public:
  BoundedThread() = default;
  explicit BoundedThread(std::function<void()> body) : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_, body = std::move(body)] {
      body();
      std::lock_guard lock(state->mutex);
      state->ended = true;
      state->cv.notify_all();
    });
  }
  BoundedThread(BoundedThread&&) = default;
  BoundedThread& operator=(BoundedThread&& other) {
    abandon();
    thread_ = std::move(other.thread_);
    state_ = std::move(other.state_);
    return *this;
  }

  // Joins the thread if its body ends within `bound`; a thread already
  // joined (or never started) counts as ended. May be called again after
  // a failure, for instance once the test has told the body to stop.
  ::testing::AssertionResult join_within(std::chrono::seconds bound) {
    if (!thread_.joinable()) return ::testing::AssertionSuccess();
    std::unique_lock lock(state_->mutex);
    if (!state_->cv.wait_for(lock, bound, [&] { return state_->ended; }))
      return ::testing::AssertionFailure()
             << "the thread did not end within " << bound.count() << " s";
    lock.unlock();
    thread_.join();
    return ::testing::AssertionSuccess();
  }

  bool joinable() const { return thread_.joinable(); }

  ~BoundedThread() { abandon(); }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;
  };

  // A thread still running here has already failed its test; destroying it
  // joinable would end the process, so it is joined if it has ended and
  // detached only if it has not, and the state it reports to outlives it.
  void abandon() {
    if (!thread_.joinable()) return;
    bool ended;
    {
      std::lock_guard lock(state_->mutex);
      ended = state_->ended;
    }
    if (ended)
      thread_.join();
    else
      thread_.detach();
  }

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace mossbank::base::testing
