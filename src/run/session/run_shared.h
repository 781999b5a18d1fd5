// The state one run of the agent shares between its threads.
//
// One RunShared per run of the agent (a restart builds a new one), held by a
// shared_ptr by every thread that works for the run; the command-wide record
// (CommandShared) outlives restarts and holds the agent slot that the signal
// and keys threads consult.
//
// Threads. For the whole command: "signals" and "keys" (run_command.cpp).
// Per run of the agent, started in this order and joined in reverse by the
// run loop: the daemon-pid watch (install runs), the update watch (runs from
// an app bundle), "output" (pump.cpp), the poster (poster.cpp), "village's
// commands" (link.cpp), "screen" (mirror.cpp). Short jobs the run owns and
// joins at its end (Jobs below): the output stream's open, retry and retire
// jobs, the stream's writer and reply threads, the request worker "village's
// request", the stop timer, the restart watch, the posts of typed lines.
//
// Locks. Each part below has its own mutex, held only for a read or a short
// update, never across a daemon request or a write to the agent (the key
// filter's lock is held for a whole filter call, which reads the screen).
// Where two are held at once the order is fixed:
//   key_filter -> screen      the key filter reads the screen inside its call
//   screen -> publisher       resize_screen, the pump's data frames, the
//                             watch's snapshot: a snapshot and the frames
//                             after it then neither repeat nor skip output
// No other lock is ever taken while another is held, except the leaves:
// the waker's own lock (raising post_now wakes the mirror under the screen
// lock; a Waker::wait_for condition takes no lock) and an output stream's
// queue lock (frames are queued under the publisher lock).
//
// Every timed wait of a run waits on `waker`, which the run's end wakes, so
// the end never waits out a sleep.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"  // now_ms: the times sent to the daemon and the activity record
#include "base/json.h"
#include "base/threads.h"
#include "base/unique_fd.h"
#include "daemon/http_client.h"
#include "run/session/agent_process.h"
#include "run/link/output_stream.h"
#include "run/link/publisher.h"
#include "run/link/village_input.h"
#include "screen/key_filter.h"
#include "terminal/terminal.h"

namespace mossbank::run {

class AgentInput;
class Poster;
struct RunShared;

// A wait that the end of the run cuts short.
class Waker {
 public:
  // Waits `delay`; false when the run ended first (or had ended).
  bool sleep_for(std::chrono::nanoseconds delay);
  // Waits until `done()` holds (checked under the waker's lock after each
  // notify) or `delay` passes; true when it holds.
  bool wait_for(std::chrono::nanoseconds delay, const std::function<bool()>& done);
  // Wakes every wait; later waits return at once.
  void end();
  // Wakes every wait once (for waits whose condition may have changed).
  void notify();
  bool ended() const { return ended_.load(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> ended_{false};
  uint64_t pulses_ = 0;
};

// Short jobs of the run, each joined as soon as it ends (the rest when the
// run ends). A job that throws is noted as a failed worker under its name.
class Jobs : public JobThreads {
 public:
  explicit Jobs(RunShared& run);
};

// The mirror's post-now mark. Raising it wakes the mirror, which waits for
// it instead of polling: once per look, not once per change.
class PostNowFlag {
 public:
  PostNowFlag() = default;
  PostNowFlag(Waker* waker, std::atomic<bool>* wake) : waker_(waker), wake_(wake) {}
  PostNowFlag& operator=(bool on) {
    const bool raised = on && !on_;
    on_ = on;
    if (raised && wake_ != nullptr) {
      wake_->store(true);
      waker_->notify();
    }
    return *this;
  }
  operator bool() const { return on_; }

 private:
  bool on_ = false;
  Waker* waker_ = nullptr;
  std::atomic<bool>* wake_ = nullptr;
};

// The screen record: the emulator and what the mirror and the watch read.
struct ScreenRecord {
  Terminal terminal;
  std::string agent;        // the recognised agent ("" when unknown)
  uint64_t generation = 0;  // raised whenever the screen may have changed
  PostNowFlag post_now;     // the mirror posts at its next look
  bool screens = false;     // snapshots carry the serialised screen
};

// The village's size rules (size lock).
struct SizeRecord {
  bool own_terminal = false;  // is_interactive when the run started
  bool village_recorded = false;
  bool village_in_force = false;
  uint16_t cols = 0;
  uint16_t rows = 0;
};

// The activity record (activity lock). Times in ms since the epoch.
struct ActivityRecord {
  bool village_talk = false;
  double village_talk_at = 0;
  uint8_t echo_state = 0;  // 0 none, 1 echo running, 2 echo over
  double echo_at = 0;
  // Recent pieces (time, bytes) and their sum; in time order unless the
  // clock stepped back.
  std::deque<std::pair<double, size_t>> samples;
  size_t sample_bytes = 0;
  bool samples_in_order = true;
  double last_input_at = 0;
  double last_resize_at = 0;
  double last_busy_at = 0;
  bool working = false;
  bool asked = false;
  std::optional<JsonValue> last_posted;  // re-posted on the link's ready
};

// Where the run's posts go: set by the link while a proven daemon holds.
struct Route {
  uint16_t port = 0;
  std::string token;
};

// The link's part of the run state.
struct LinkState {
  std::string home;
  std::string run_id;
  std::atomic<bool> stop{false};    // the run ended: the link leaves
  std::atomic<bool> closed{false};  // nothing registers, no command is handed over

  std::mutex route_mutex;
  std::optional<Route> route;
  // Where the daemon last took the registration; kept when the link lets
  // go of the route, so that the run's end can still take the run off.
  std::optional<Route> registered;

  std::mutex stream_mutex;
  UniqueFd command_stream_fd;  // a duplicate of the command stream's socket
  UniqueFd output_stream_fd;   // a duplicate of the attached output stream's socket

  PooledConnection pool;

  std::optional<Route> copy_route();
  void set_route(std::optional<Route> route);
};

// A restart the village asked for, until the agent exits.
struct PendingRestart {
  std::string session_id;
  double requested_at = 0;  // ms since the epoch
  std::chrono::steady_clock::time_point requested_mono{};
};

// The village's requests that need an answer: one at a time per run.
struct RequestGate {
  std::atomic<bool> busy{false};       // a request runs (a Claude talk: until its receipt)
  std::atomic<bool> interrupt{false};  // an interrupt came while one ran: receipts give up
};

inline ScreenRecord waking_screen_record(Waker* waker, std::atomic<bool>* wake) {
  ScreenRecord record;
  record.post_now = PostNowFlag(waker, wake);
  return record;
}

struct RunShared {
  RunShared(uint32_t cols, uint32_t rows, std::string home, std::string run_id);

  // The agent, borrowed under the slot of CommandShared; the run keeps its
  // own reference so that workers can signal it without the slot.
  std::shared_ptr<AgentProcess> agent;
  // The agent's input, for the village's keys (set by the run loop).
  std::shared_ptr<AgentInput> input;
  // The village's `input`, written off the link's thread.
  VillageInputWriter village_input;

  std::mutex screen_mutex;
  ScreenRecord screen = waking_screen_record(&waker, &mirror_wake);
  // The pump hands output to the screen's feeder, which may be a moment
  // behind the user's terminal: bytes handed over, and bytes on the screen
  // (under screen_mutex, signalled by screen_fed_cv).
  std::atomic<uint64_t> screen_handed{0};
  uint64_t screen_fed = 0;
  std::condition_variable screen_fed_cv;
  // The feeder's lock and its wake-up. The pump wakes the feeder once the
  // user's terminal has taken the bytes; a request that finds the screen
  // behind wakes it too, so that it never waits on a terminal the user
  // paused.
  std::mutex feeder_mutex;
  std::condition_variable feeder_ready;

  // What was typed by hand (the user's keys, the village's input): taken
  // before the screen lock when both are held.
  std::mutex key_filter_mutex;
  screen::KeyFilterState key_filter;

  std::mutex size_mutex;
  SizeRecord size;
  // Whose window size is the user's (stdout; tests give another terminal).
  int user_terminal_fd = 1;

  std::mutex activity_mutex;
  ActivityRecord activity;

  std::mutex publisher_mutex;
  Publisher publisher;
  // The output streams' waits and the streams still open (mirror of the
  // publisher's subscriber and retiring stream, for the run's end).
  OutputStreams output_streams;

  LinkState link;

  std::mutex registration_mutex;
  JsonValue registration = JsonValue::object();

  std::mutex colour_mutex;
  JsonValue colours = JsonValue::object();
  std::string colour_tail;  // the start of a colour answer cut by a read

  // The agent has an exit command and its command line can be resumed
  // (set before the workers start).
  bool restartable = false;
  std::mutex restart_mutex;
  std::optional<PendingRestart> pending_restart;
  std::mutex launch_mutex;
  std::vector<std::string> launch_words;
  std::atomic<bool> upgrade_requested{false};
  std::atomic<bool> restart_cancelled{false};

  std::mutex notes_mutex;
  std::vector<std::string> failures;      // "its <what> failed: <why>"
  std::optional<std::string> end_reason;  // "its <what> stopped: <why>"

  std::atomic<bool> has_own_terminal{false};
  std::atomic<bool> stopping{false};

  RequestGate gate;

  std::mutex hold_mutex;
  std::chrono::steady_clock::time_point hold_until{};
  // Set (then the waker notified) when the mirror has something new to
  // weigh: post_now was raised, or a hold began.
  std::atomic<bool> mirror_wake{false};

  Waker waker;
  Jobs jobs{*this};
  // Activity and colours, sent off the hot path (set by the run loop).
  std::unique_ptr<Poster> poster;

  ~RunShared();

  // The screen lock, taken once the screen shows all the output handed to
  // it so far (what the user's terminal already shows): the village's
  // requests decide on what the user sees.
  std::unique_lock<std::mutex> lock_current_screen();
  // The same, waiting at most `most` for the feeder: for the keys thread,
  // which must never hang on it.
  std::unique_lock<std::mutex> lock_current_screen(std::chrono::milliseconds most);
  // Wakes the feeder (screen -> feeder is the only order the two locks take).
  void wake_feeder();

  // Marks the screen changed: the mirror posts it, the approval test reads it again.
  void screen_changed_locked() {
    ++screen.generation;
    screen.post_now = true;
  }
};

}  // namespace mossbank::run
