#include "run/session/activity.h"

namespace mossbank::run {

namespace {

constexpr double kSampleWindow = 1000;
constexpr size_t kWorkingBytes = 256;
constexpr double kEchoQuiet = 200;
constexpr double kEchoWindow = 1000;
constexpr double kEchoGap = 40;
constexpr double kResizeQuiet = 1000;
constexpr double kAskedWindow = 60000;
constexpr double kLapse = 2500;

std::optional<ActivityChange> count_piece(ActivityRecord& r, double now, size_t length) {
  std::erase_if(r.samples, [&](const auto& s) { return now - s.first >= kSampleWindow; });
  r.samples.emplace_back(now, length);
  size_t sum = 0;
  for (const auto& s : r.samples) sum += s.second;
  if (sum < kWorkingBytes) return std::nullopt;
  r.last_busy_at = now;
  if (r.working) return std::nullopt;
  r.working = true;
  r.asked = r.village_talk && now - r.village_talk_at <= kAskedWindow;
  return ActivityChange{true, r.asked};
}

}  // namespace

std::optional<ActivityChange> decide_activity(ActivityRecord& r, double now, size_t length) {
  const double a = r.last_input_at;
  const double since_input = now - a;
  const bool resize_quiet = r.last_resize_at <= now && now - r.last_resize_at < kResizeQuiet;

  if (a > now) {
    if (resize_quiet) return std::nullopt;
    return count_piece(r, now, length);
  }
  if (r.working) {
    r.echo_state = EchoState::over;
    if (since_input < kEchoQuiet || resize_quiet) return std::nullopt;
    return count_piece(r, now, length);
  }
  if (since_input >= kEchoWindow || r.echo_state == EchoState::over) {
    r.echo_state = EchoState::over;
    r.echo_at = now;
    if (since_input < kEchoQuiet || resize_quiet) return std::nullopt;
    return count_piece(r, now, length);
  }
  if (r.echo_state == EchoState::none) {
    r.echo_state = EchoState::running;
    r.echo_at = now;
    return std::nullopt;
  }
  // The echo is running: it goes on while pieces follow each other closely.
  const bool goes_on = r.echo_at <= now && now - r.echo_at < kEchoGap;
  r.echo_state = goes_on ? EchoState::running : EchoState::over;
  r.echo_at = now;
  if (goes_on || since_input < kEchoQuiet || resize_quiet) return std::nullopt;
  return count_piece(r, now, length);
}

std::optional<ActivityChange> lapse_activity(ActivityRecord& r, double now) {
  if (!r.working || now - r.last_busy_at < kLapse) return std::nullopt;
  r.working = false;
  r.asked = false;
  r.village_talk = false;
  return ActivityChange{false, false};
}

JsonValue activity_body(ActivityRecord& r, const ActivityChange& change) {
  JsonValue body = JsonValue::object();
  body["working"] = change.working;
  body["asked"] = change.asked;
  r.last_posted = body;
  return body;
}

std::optional<ActivityChange> note_village_talk(ActivityRecord& r, double now) {
  r.village_talk = true;
  r.village_talk_at = now;
  r.echo_state = EchoState::over;
  if (!r.working || r.asked) return std::nullopt;
  r.asked = true;
  return ActivityChange{true, true};
}

void note_input(ActivityRecord& r, double now) {
  r.last_input_at = now;
  r.echo_state = r.working ? EchoState::over : EchoState::none;
}

}  // namespace mossbank::run
