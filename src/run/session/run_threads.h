// The threads of one run of the agent, owned in one place.
//
// RunThreads starts each thread by name with base's start_thread (a failure
// it returns or throws goes to the thread's failure callback) and joins the
// threads it still holds in reverse order of their start: when asked, and at
// the latest when it goes, so every path out of the run loop joins them. A
// thread the run's end needs gone early (the output pump) is joined by name.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/threads.h"

namespace mossbank::run {

class RunThreads {
 public:
  // `unwind` makes every held thread leave. The destructor calls it first
  // when threads are still held (a path that skipped the run's own end), so
  // that the joins cannot hang.
  explicit RunThreads(std::function<void()> unwind = {}) : unwind_(std::move(unwind)) {}
  ~RunThreads();
  RunThreads(const RunThreads&) = delete;
  RunThreads& operator=(const RunThreads&) = delete;

  // Starts `body` as the thread `name`. False when no thread could be
  // started; `failed` is then told so under the thread's name.
  bool start(std::string name, std::function<Status()> body, ThreadFailure failed);
  // Joins the thread started as `name`, when one is held.
  void join(std::string_view name);
  // Joins every held thread, the last started first.
  void join_all();
  // The names of the held threads, in the order they started.
  std::vector<std::string> names() const;

 private:
  std::vector<std::pair<std::string, std::thread>> threads_;
  std::function<void()> unwind_;
};

}  // namespace mossbank::run
