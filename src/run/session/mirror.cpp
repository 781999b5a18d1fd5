#include "run/session/mirror.h"

#include <algorithm>

#include "run/link/frames.h"
#include "run/session/activity.h"
#include "run/link/posts.h"

namespace mossbank::run {

namespace {

// The longest wait with nothing due; anything that matters wakes it sooner.
constexpr std::chrono::hours kIdleWait{24};

struct MirrorState {
  std::optional<MirrorClock::time_point> changed_at;  // a change not looked at yet
  MirrorClock::time_point last_look{};
  std::optional<MirrorClock::time_point> activity_check_at;
  MirrorClock::time_point activity_watch_until{};
};

MirrorClock::time_point hold_deadline(RunShared& run) { return run.hold_until.copy(); }

void look(RunShared& run) {
  std::optional<ScreenSnapshot> snapshot;
  {
    std::lock_guard lock(run.screen_mutex);
    if (!run.screen.post_now) return;
    run.screen.post_now = false;
    snapshot = take_snapshot(run.screen, static_cast<uint64_t>(now_ms()));
  }
  report_run(run.link, "/screen", snapshot_body(*snapshot));
}

// Lets working lapse when it is due; when to check next, if at all.
std::optional<MirrorClock::time_point> check_activity(RunShared& run, const MirrorTimings& timings,
                                                      MirrorClock::time_point now,
                                                      MirrorClock::time_point watch_until) {
  const double now_epoch = now_ms();
  std::optional<JsonValue> body;
  bool working = false;
  double last_busy = 0;
  {
    std::lock_guard lock(run.activity_mutex);
    if (auto change = lapse_activity(run.activity, now_epoch))
      body = activity_body(run.activity, *change);
    working = run.activity.working;
    last_busy = run.activity.last_busy_at;
  }
  if (body && run.poster) run.poster->post("/activity", std::move(*body));
  if (working) {
    // Due when the lapse is; a clock that jumped is checked again soon.
    const double left = last_busy + static_cast<double>(timings.working_lapse.count()) - now_epoch;
    const auto wait = std::chrono::milliseconds(static_cast<int64_t>(
        std::clamp(left, 1.0, static_cast<double>(timings.working_lapse.count()))));
    return now + wait;
  }
  // Output may turn into work after this check: keep looking for a while.
  if (now < watch_until) return now + timings.activity_check;
  return std::nullopt;
}

}  // namespace

MirrorClock::time_point next_look_at(const MirrorTimings& timings, MirrorClock::time_point now,
                                     MirrorClock::time_point hold_until,
                                     MirrorClock::time_point last_look,
                                     MirrorClock::time_point changed_at) {
  if (now < hold_until) return std::max(changed_at, last_look + timings.hold_look);
  return std::max(changed_at + timings.settle, last_look + timings.calm_look);
}

ScreenSnapshot take_snapshot(const ScreenRecord& screen, uint64_t at_ms) {
  const Terminal& t = screen.terminal;
  ScreenSnapshot s;
  if (screen.screens) {
    s.serialized = serialize(t, true);
    s.serialized->append(serialize_presentation(t));
  }
  s.cols = wire_side(t.cols);
  s.rows = wire_side(t.rows);
  s.text = screen_lines(t);
  s.coloured = screen_lines_styled(t);
  const TerminalCursor cursor = terminal_cursor(t);
  s.caret_x = cursor.col;
  s.caret_y = cursor.row;
  s.at = at_ms;
  return s;
}

JsonValue snapshot_body(const ScreenSnapshot& s) {
  JsonValue body = JsonValue::object();
  if (s.serialized) body["serialized"] = *s.serialized;
  body["cols"] = s.cols;
  body["rows"] = s.rows;
  body["text"] = s.text;
  body["coloured"] = s.coloured;
  JsonValue caret = JsonValue::object();
  caret["x"] = s.caret_x;
  caret["y"] = s.caret_y;
  body["caret"] = std::move(caret);
  body["at"] = s.at;
  return body;
}

void hold_state_briefly(RunShared& run) {
  run.hold_until.exchange(MirrorClock::now() + MirrorTimings{}.hold);
  run.mirror_wake.store(true);
  run.waker.notify();
}

void run_mirror(const std::shared_ptr<RunShared>& shared, const MirrorTimings& timings) {
  RunShared& run = *shared;
  MirrorState state;
  // Working may be set before the first change is seen.
  state.activity_check_at = MirrorClock::now() + timings.activity_check;
  state.activity_watch_until = MirrorClock::now() + timings.activity_watch;
  for (;;) {
    if (run.stopping.load() || run.waker.ended()) return;
    MirrorClock::time_point now = MirrorClock::now();
    if (run.mirror_wake.exchange(false)) {
      if (!state.changed_at) state.changed_at = now;
      state.activity_watch_until = now + timings.activity_watch;
      if (!state.activity_check_at) state.activity_check_at = now + timings.activity_check;
    }

    std::optional<MirrorClock::time_point> look_at;
    if (state.changed_at)
      look_at = next_look_at(timings, now, hold_deadline(run), state.last_look, *state.changed_at);
    if (look_at && *look_at <= now) {
      state.last_look = now;
      state.changed_at.reset();
      look(run);
      continue;
    }
    if (state.activity_check_at && *state.activity_check_at <= now) {
      state.activity_check_at = check_activity(run, timings, now, state.activity_watch_until);
      continue;
    }

    MirrorClock::time_point until = now + kIdleWait;
    if (look_at) until = std::min(until, *look_at);
    if (state.activity_check_at) until = std::min(until, *state.activity_check_at);
    run.waker.wait_for(until - now, [&] { return run.mirror_wake.load(); });
  }
}

}  // namespace mossbank::run
