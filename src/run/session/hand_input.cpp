#include "run/session/hand_input.h"

#include <utility>

#include "screen/agent_menu.h"
#include "screen/approval.h"
#include "screen/input_boxes.h"

namespace mossbank::run {

namespace {

using screen::KeyClock;

// A hand key this recent may still be on its way to the box.
constexpr std::chrono::milliseconds kHandKeysSettle{500};

struct ScreenCopy {
  std::string agent;
  std::string text;
};

ScreenCopy plain_screen(RunShared& run) {
  std::lock_guard lock(run.screen_mutex);
  return {run.screen.agent, screen_lines(run.screen.terminal)};
}

std::optional<std::string_view> agent_of(const std::string& agent) {
  if (agent.empty()) return std::nullopt;
  return agent;
}

bool command_center_open(RunShared& run) {
  ScreenCopy s;
  {
    std::lock_guard lock(run.screen_mutex);
    // Without an agent there is no command center: no copy of the screen.
    if (run.screen.agent.empty()) return false;
    s = {run.screen.agent, screen_lines(run.screen.terminal)};
  }
  return screen::is_agent_command_center(agent_of(s.agent), s.text);
}

// The filter's kept answer, asked again once the screen moved on.
bool kept_answer(screen::KeptAnswer& kept, RunShared& run, bool (*test)(RunShared&)) {
  uint64_t generation;
  {
    std::lock_guard lock(run.screen_mutex);
    generation = run.screen.generation;
  }
  if (kept.generation == generation) return kept.answer;
  kept.answer = test(run);
  kept.generation = generation;
  return kept.answer;
}

bool is_lone_esc(const std::string& pending) { return pending == "\x1b"; }

}  // namespace

screen::KeyScreen run_key_screen(RunShared& run) {
  RunShared* r = &run;
  screen::KeyScreen ks;
  ks.generation = [r] {
    std::lock_guard lock(r->screen_mutex);
    return r->screen.generation;
  };
  ks.awaiting_approval = [r] {
    ScreenCopy s = plain_screen(*r);
    return screen::awaiting_approval(agent_of(s.agent), s.text);
  };
  ks.command_center_open = [r] { return command_center_open(*r); };
  return ks;
}

screen::TakenKeys take_user_keys(RunShared& run, std::string_view bytes, KeyClock::time_point now) {
  std::lock_guard lock(run.key_filter_mutex);
  return screen::take_input_keys(run.key_filter, bytes, run_key_screen(run), now);
}

bool count_user_keys(RunShared& run, const screen::TakenKeys& taken) {
  std::lock_guard lock(run.key_filter_mutex);
  return screen::count_input_keys(run.key_filter, taken, run_key_screen(run));
}

screen::FilteredKeys filter_user_keys(RunShared& run, std::string_view bytes,
                                      KeyClock::time_point now) {
  std::lock_guard lock(run.key_filter_mutex);
  return screen::filter_input_keys(run.key_filter, bytes, run_key_screen(run), now);
}

std::optional<KeyClock::time_point> user_esc_deadline(RunShared& run) {
  std::lock_guard lock(run.key_filter_mutex);
  return screen::lone_esc_deadline(run.key_filter);
}

screen::FilteredKeys release_user_esc(RunShared& run, KeyClock::time_point now) {
  std::lock_guard lock(run.key_filter_mutex);
  screen::FilteredKeys out = screen::release_lone_esc(run.key_filter, run_key_screen(run), now);
  // While it was held it was no draft; gone by itself it is none either
  // (on a line with text the count already says draft).
  if (!out.bytes.empty()) run.key_filter.lone_esc = false;
  return out;
}

screen::FilteredKeys filter_village_input(RunShared& run, std::string_view data,
                                          KeyClock::time_point now) {
  std::lock_guard lock(run.key_filter_mutex);
  screen::KeyFilterState& s = run.key_filter;
  std::string user_pending = std::exchange(s.pending, std::string());
  const bool user_lone_esc = s.lone_esc;
  const KeyClock::time_point user_esc_since = s.esc_held_since;

  const screen::KeyScreen ks = run_key_screen(run);
  screen::FilteredKeys out = screen::filter_input_keys(s, data, ks, now);
  if (std::optional<KeyClock::time_point> due = screen::lone_esc_deadline(s)) {
    // The village's Esc is a key: nothing of the village's follows it.
    screen::FilteredKeys esc = screen::release_lone_esc(s, ks, std::max(now, *due));
    out.bytes += esc.bytes;
    out.submitted = out.submitted || esc.submitted;
  } else {
    out.bytes += s.pending;
  }

  s.pending = std::move(user_pending);
  s.lone_esc = user_lone_esc;
  s.esc_held_since = user_esc_since;
  return out;
}

std::string filter_request_keys(std::string_view keys) {
  screen::KeyFilterState scratch;
  screen::FilteredKeys out =
      screen::filter_input_keys(scratch, keys, screen::KeyScreen{}, KeyClock::now());
  return out.bytes + scratch.pending;
}

bool has_hand_draft(RunShared& run) {
  std::lock_guard lock(run.key_filter_mutex);
  screen::KeyFilterState& s = run.key_filter;
  if (s.typed_count > 0) return true;
  if (s.pending.empty() && kept_answer(s.command_center, run, command_center_open)) s.dirty = false;
  return s.dirty || s.lone_esc || (!s.pending.empty() && !is_lone_esc(s.pending));
}

bool input_box_idle(RunShared& run) {
  {
    std::lock_guard lock(run.key_filter_mutex);
    const screen::KeyFilterState& s = run.key_filter;
    if (s.lone_esc || (!s.pending.empty() && !is_lone_esc(s.pending))) return false;
    if (s.last_input && KeyClock::now() - *s.last_input < kHandKeysSettle) return false;
  }
  std::string agent;
  std::string marked;
  {
    std::lock_guard lock(run.screen_mutex);
    agent = run.screen.agent;
    marked = screen_lines_marked(run.screen.terminal);
  }
  return screen::input_box_is_empty(agent_of(agent), marked);
}

void forget_hand_draft(RunShared& run) {
  std::lock_guard lock(run.key_filter_mutex);
  run.key_filter.typed_count = 0;
  run.key_filter.dirty = false;
}

uint64_t input_generation(RunShared& run) {
  std::lock_guard lock(run.key_filter_mutex);
  return run.key_filter.input_serial;
}

}  // namespace mossbank::run
