#include "run/session/pump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "base/files.h"
#include "platform/process.h"
#include "run/session/activity.h"
#include "run/link/posts.h"
#include "run/link/publisher.h"
#include "terminal/utf8.h"

namespace mossbank::run {

namespace {

constexpr size_t kReadSize = 65536;
// How far the screen may fall behind the user's terminal before the pump
// waits for it.
constexpr size_t kMaxUnfed = 1 << 20;
// Output this small (an echo, a redrawn status line) the pump puts on the
// screen itself: feeding it costs less than waking the feeder's thread.
constexpr size_t kFeedHere = 2048;
// While more output is ready at once, the feeder is woken only once this
// much waits for it, so that a burst costs a few wake-ups, not one a read.
constexpr size_t kWakeAt = 128 << 10;

// Feeds the emulator on a thread of its own: the user's terminal then gets
// the agent's output at the pace of a plain copy, while the screen follows
// on another core, in the same order, a burst at a time.
class ScreenFeeder {
 public:
  ScreenFeeder(std::shared_ptr<RunShared> run, std::shared_ptr<AgentInput> input)
      : run_(std::move(run)), input_(std::move(input)), thread_([this] { loop(); }) {}
  ScreenFeeder(const ScreenFeeder&) = delete;
  ScreenFeeder& operator=(const ScreenFeeder&) = delete;

  // Everything pushed is fed before the destructor returns.
  ~ScreenFeeder() {
    {
      std::lock_guard lock(run_->feeder_mutex);
      closed_ = true;
    }
    run_->feeder_ready.notify_one();
    thread_.join();
  }

  // What a push left for the feeder.
  struct Unfed {
    bool idle = false;  // the feeder waits: the text stays unfed until woken
    size_t size = 0;    // the bytes not yet taken by the feeder
  };

  // Hands the text over and counts it. The wake-up is left to the caller
  // (wake(), or feed_here()) so that the user's terminal gets the bytes
  // first: a wake-up costs a system call, and the woken thread may take the
  // caller's core.
  Unfed push(std::string_view text) {
    std::unique_lock lock(run_->feeder_mutex);
    room_.wait(lock, [&] { return unfed_.size() < kMaxUnfed; });
    unfed_.append(text);
    run_->screen_handed += text.size();
    return {idle_, unfed_.size()};
  }

  void wake() { run_->feeder_ready.notify_one(); }

  // Feeds a small hand-over on the caller's thread while the feeder waits;
  // false when it is left to the feeder: too large, the feeder at work, the
  // screen held by someone else, or replies to send (the agent's input
  // could block the only reader of its output).
  bool feed_here() {
    RunShared& run = *run_;
    if (!run.has_own_terminal.load()) return false;
    std::unique_lock screen_lock(run.screen_mutex, std::try_to_lock);
    if (!screen_lock) return false;
    {
      // screen -> feeder, the order the two locks take.
      std::lock_guard lock(run.feeder_mutex);
      if (!idle_ || unfed_.empty() || unfed_.size() > kFeedHere) return false;
      here_.swap(unfed_);
      unfed_.clear();
    }
    feed_locked(here_);
    screen_lock.unlock();
    run.screen_fed_cv.notify_all();
    return true;
  }

 private:
  void loop() {
    std::string batch;
    for (;;) {
      {
        std::unique_lock lock(run_->feeder_mutex);
        idle_ = true;
        run_->feeder_ready.wait(lock, [&] { return !unfed_.empty() || closed_; });
        idle_ = false;
        if (unfed_.empty()) return;  // closed, and everything fed
        batch.swap(unfed_);
        unfed_.clear();
      }
      room_.notify_one();
      feed(batch);
    }
  }

  void feed(std::string_view text) {
    RunShared& run = *run_;
    std::string replies;
    {
      std::lock_guard screen_lock(run.screen_mutex);
      replies = feed_locked(text);
    }
    run.screen_fed_cv.notify_all();
    // Answers to the agent's queries, when no terminal of the user's is
    // there to give them.
    if (!replies.empty()) input_->write(replies);
  }

  // Under the screen lock; the replies to the agent's queries when the run
  // has no terminal of its own.
  std::string feed_locked(std::string_view text) {
    RunShared& run = *run_;
    std::string replies;
    Terminal& t = run.screen.terminal;
    if (run.has_own_terminal.load()) {
      terminal_process(t, text);
    } else {
      terminal_capture_replies(t);
      terminal_process(t, text);
      replies = terminal_take_replies(t);
    }
    run.screen_changed_locked();
    run.screen_fed += text.size();
    // The frame is queued while the screen is held, so that a snapshot
    // taken under the same lock is followed by exactly the frames after it.
    std::lock_guard publisher_lock(run.publisher_mutex);
    run.publisher.published += text.size();
    // Without a taker the frame's copy of the output would only be dropped.
    if (run.publisher.takes_frames()) publish_frame(run, data_frame(text));
    return replies;
  }

  std::shared_ptr<RunShared> run_;
  std::shared_ptr<AgentInput> input_;
  std::condition_variable room_;  // with run_->feeder_mutex
  std::string unfed_;
  std::string here_;  // feed_here's batch, on the pump's thread
  bool idle_ = false;
  bool closed_ = false;
  std::thread thread_;
};

}  // namespace

PumpControl::PumpControl() {
  if (Result<platform::PipeEnds> ends = platform::make_pipe()) {
    wake_read_ = std::move(ends->read);
    wake_write_ = std::move(ends->write);
  }
}

void PumpControl::agent_exited() {
  exited_.store(true);
  if (wake_write_) {
    char byte = 1;
    ssize_t ignored = write(wake_write_.get(), &byte, 1);
    (void)ignored;
  }
}

void run_output_pump(const std::shared_ptr<RunShared>& run,
                     const std::shared_ptr<PtyMaster>& master,
                     const std::shared_ptr<AgentInput>& input, PumpControl& control,
                     PumpTarget target) {
  std::vector<char> buffer(kReadSize);
  Utf8Repair repair;
  ScreenFeeder feeder(run, input);
  std::optional<std::chrono::steady_clock::time_point> drain_until;
  // Output handed over while the feeder waits, its wake-up put off while
  // more output is ready at once.
  bool wake_owed = false;
  // The last read was a burst's (large): more is likely there already.
  bool read_at_once = false;
  const int fd = master->fd.get();
  for (;;) {
    if (control.exited() && !drain_until)
      drain_until = std::chrono::steady_clock::now() + kDrainAfterExit;
    int timeout = -1;
    if (drain_until) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *drain_until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      timeout = static_cast<int>(left.count());
    }
    // In a burst the next read goes first: a poll each read would double
    // the system calls of a plain copy.
    if (!read_at_once) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {control.wake_fd(), POLLIN, 0}};
      int ready = poll(fds, control.wake_fd() >= 0 ? 2 : 1, wake_owed ? 0 : timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (ready == 0 && wake_owed) {  // the burst is over: the screen catches up
        feeder.wake();
        wake_owed = false;
        continue;
      }
      if (ready == 0) return;  // the drain is over
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        if (fds[1].revents != 0) {
          char sink[64];
          ssize_t ignored = read(control.wake_fd(), sink, sizeof sink);
          (void)ignored;
        }
        continue;
      }
    }
    read_at_once = false;
    ssize_t n = read(fd, buffer.data(), buffer.size());
    // The master is non-blocking (for the agent's input): a read that finds
    // nothing after all waits again.
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return;  // end of file, or EIO once the agent's side is closed
    read_at_once = static_cast<size_t>(n) > kFeedHere;

    const std::string_view text =
        repair.feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
    // Handed to the screen before the user sees it, so that a request never
    // reads a screen older than the user's (and never waits on a terminal
    // the user paused).
    if (!text.empty()) {
      const ScreenFeeder::Unfed unfed = feeder.push(text);
      {
        std::lock_guard lock(*target.stdout_mutex);
        write_all(target.stdout_fd, text);
      }
      if (unfed.idle && !feeder.feed_here()) {
        wake_owed = true;
        if (unfed.size >= kWakeAt) {
          feeder.wake();
          wake_owed = false;
        }
      }
    }
    control.note_read();

    if (!text.empty()) {
      const double now = now_ms();
      std::optional<JsonValue> body;
      {
        std::lock_guard lock(run->activity_mutex);
        if (auto change = decide_activity(run->activity, now, text.size()))
          body = activity_body(run->activity, *change);
      }
      if (body && run->poster) run->poster->post("/activity", std::move(*body));
    }
  }
}

}  // namespace mossbank::run
