// Threads: one way to start one, a set of short jobs that are joined as soon
// as they end, and a lock tied to the one small record it guards.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/status.h"

namespace mossbank {

// Told of a thread's failure: the thread's name and why it failed.
using ThreadFailure = std::function<void(std::string_view name, std::string_view why)>;

// Starts `body` on a thread of its own. The text of a failure it returns, or
// what it throws, goes to `failed` with `name` (an exception that is no
// std::exception is "a panic"). Nothing when no thread could be started.
std::optional<std::thread> start_thread(std::string name, std::function<Status()> body,
                                        ThreadFailure failed);

// Short jobs, each on a thread of its own, that nobody waits for one by one.
// A job's thread, once its body is done (and the body with its captures
// destroyed), joins the jobs that ended before it, so at most one ended job
// is ever left unjoined and any number of jobs costs no more threads or
// stacks than those running at once. join_all waits for the rest. A job
// must not hold the last reference to the set's owner (it cannot join itself).
class JobThreads {
 public:
  explicit JobThreads(ThreadFailure failed = {}) : failed_(std::move(failed)) {}
  JobThreads(const JobThreads&) = delete;
  JobThreads& operator=(const JobThreads&) = delete;
  ~JobThreads() { join_all(); }

  // Starts `body` as a job named `name`; false when no thread could be
  // started. What the body throws goes to the failure callback.
  bool start(std::string name, std::function<void()> body);
  // Joins every job started so far (and those they start meanwhile).
  void join_all();
  // Jobs whose threads have not been joined yet, running or ended.
  size_t unjoined() const;

 private:
  void ended(uint64_t id);

  mutable std::mutex mutex_;
  std::map<uint64_t, std::thread> running_;
  std::vector<std::thread> ended_;
  uint64_t next_id_ = 0;
  ThreadFailure failed_;
};

// A small record and the lock that guards it: the only ways in are a copy
// and a short update under the lock, so the record is never read unlocked
// and the lock is never held across anything else.
template <class T>
class Guarded {
 public:
  Guarded() = default;
  explicit Guarded(T value) : value_(std::move(value)) {}
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  T copy() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  // Runs `change` on the record under the lock and gives back its result.
  // `change` must not take another lock or wait.
  template <class F>
  decltype(auto) update(F&& change) {
    std::lock_guard lock(mutex_);
    return std::forward<F>(change)(value_);
  }
  // Replaces the record and gives back the one it held.
  T exchange(T next) {
    std::lock_guard lock(mutex_);
    return std::exchange(value_, std::move(next));
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace mossbank
