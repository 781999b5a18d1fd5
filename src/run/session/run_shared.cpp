#include "run/session/run_shared.h"

#include "run/link/posts.h"

namespace mossbank::run {

bool Waker::sleep_for(std::chrono::nanoseconds delay) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, delay, [&] { return ended_.load(); });
  return !ended_.load();
}

bool Waker::wait_for(std::chrono::nanoseconds delay, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, delay, [&] { return ended_.load() || done(); }) && done();
}

void Waker::end() {
  {
    std::lock_guard lock(mutex_);
    ended_.store(true);
  }
  changed_.notify_all();
}

void Waker::notify() {
  {
    std::lock_guard lock(mutex_);
    ++pulses_;
  }
  changed_.notify_all();
}

Jobs::Jobs(RunShared& run)
    : JobThreads([&run](std::string_view name, std::string_view why) {
        note_worker_failed(run, name, why);
      }) {}

std::optional<Route> LinkState::copy_route() {
  std::lock_guard lock(route_mutex);
  return route;
}

void LinkState::set_route(std::optional<Route> next) {
  std::lock_guard lock(route_mutex);
  route = std::move(next);
}

RunShared::RunShared(uint32_t cols, uint32_t rows, std::string home, std::string run_id) {
  screen.terminal = terminal_new(cols, rows);
  link.home = std::move(home);
  link.run_id = std::move(run_id);
}

RunShared::~RunShared() = default;

void RunShared::wake_feeder() {
  // Through the feeder's lock, so that a feeder about to wait sees it.
  { std::lock_guard feeder(feeder_mutex); }
  feeder_ready.notify_one();
}

std::unique_lock<std::mutex> RunShared::lock_current_screen() {
  const uint64_t handed = screen_handed.load();
  std::unique_lock lock(screen_mutex);
  if (screen_fed < handed) wake_feeder();
  screen_fed_cv.wait(lock, [&] { return screen_fed >= handed; });
  return lock;
}

std::unique_lock<std::mutex> RunShared::lock_current_screen(std::chrono::milliseconds most) {
  const uint64_t handed = screen_handed.load();
  std::unique_lock lock(screen_mutex);
  if (screen_fed < handed) wake_feeder();
  screen_fed_cv.wait_for(lock, most, [&] { return screen_fed >= handed; });
  return lock;
}

}  // namespace mossbank::run
