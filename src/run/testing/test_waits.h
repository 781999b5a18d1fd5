// Waiting helpers for the run module's threaded tests: a latch, and the
// agent's input read on a pipe as it comes. Tests wait on what happened,
// never on the clock; the patience only ends a wait of a failing test.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "base/unique_fd.h"
#include "run/session/pty_agent.h"

namespace mossbank::run::testing {

inline constexpr auto kPatience = std::chrono::seconds(20);

// A latch the tests open; waits end when it opens or the test ends.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }
  template <typename Duration>
  bool wait_for(Duration patience) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// The agent's input on a pipe, read as it comes.
class InputPipe {
 public:
  InputPipe() {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    read_end_.reset(fds[0]);
    auto master = std::make_shared<PtyMaster>();
    master->fd.reset(fds[1]);
    input = std::make_shared<AgentInput>(std::move(master));
    reader_ = std::thread([this] {
      char buf[65536];
      for (;;) {
        ssize_t n = ::read(read_end_.get(), buf, sizeof buf);
        if (n <= 0) return;
        std::function<void(const std::string&)> seen;
        {
          std::lock_guard lock(mutex_);
          text_.append(buf, static_cast<size_t>(n));
          seen = on_read_;
        }
        if (seen) seen(std::string(buf, static_cast<size_t>(n)));
        changed_.notify_all();
      }
    });
  }
  ~InputPipe() {
    input.reset();  // closes the write end: the reader sees the end
    reader_.join();
  }
  InputPipe(const InputPipe&) = delete;
  InputPipe& operator=(const InputPipe&) = delete;

  // Called on the reader's thread with each piece read.
  void on_read(std::function<void(const std::string&)> seen) {
    std::lock_guard lock(mutex_);
    on_read_ = std::move(seen);
  }

  // Everything read before `marker`, without it; both consumed.
  std::string take_until(std::string_view marker) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] { return text_.find(marker) != std::string::npos; });
    const size_t at = text_.find(marker);
    if (at == std::string::npos) return "<no marker> " + std::exchange(text_, "");
    std::string out = text_.substr(0, at);
    text_.erase(0, at + marker.size());
    return out;
  }

  std::shared_ptr<AgentInput> input;

 private:
  UniqueFd read_end_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  std::function<void(const std::string&)> on_read_;
  std::thread reader_;
};

}  // namespace mossbank::run::testing
