#include "run/session/activity.h"

#include <algorithm>

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

// Drops the samples of a second ago and more. In time order they are the
// oldest at the front, so a piece costs the same however many came in the
// last second; a clock that stepped back has all of them looked at.
void drop_old_samples(ActivityRecord& r, double now) {
  auto old = [&](const std::pair<double, size_t>& s) { return now - s.first >= kSampleWindow; };
  if (r.samples_in_order) {
    while (!r.samples.empty() && old(r.samples.front())) {
      r.sample_bytes -= r.samples.front().second;
      r.samples.pop_front();
    }
    return;
  }
  std::erase_if(r.samples, old);
  r.sample_bytes = 0;
  for (const auto& s : r.samples) r.sample_bytes += s.second;
  r.samples_in_order =
      std::is_sorted(r.samples.begin(), r.samples.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::optional<ActivityChange> count_piece(ActivityRecord& r, double now, size_t length) {
  drop_old_samples(r, now);
  if (!r.samples.empty() && now < r.samples.back().first) r.samples_in_order = false;
  r.samples.emplace_back(now, length);
  r.sample_bytes += length;
  if (r.sample_bytes < kWorkingBytes) return std::nullopt;
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
    r.echo_state = 2;
    if (since_input < kEchoQuiet || resize_quiet) return std::nullopt;
    return count_piece(r, now, length);
  }
  if (since_input >= kEchoWindow || r.echo_state == 2) {
    r.echo_state = 2;
    r.echo_at = now;
    if (since_input < kEchoQuiet || resize_quiet) return std::nullopt;
    return count_piece(r, now, length);
  }
  if (r.echo_state == 0) {
    r.echo_state = 1;
    r.echo_at = now;
    return std::nullopt;
  }
  // The echo is running: it goes on while pieces follow each other closely.
  const bool goes_on = r.echo_at <= now && now - r.echo_at < kEchoGap;
  r.echo_state = goes_on ? 1 : 2;
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
  r.echo_state = 2;
  if (!r.working || r.asked) return std::nullopt;
  r.asked = true;
  return ActivityChange{true, true};
}

void note_input(ActivityRecord& r, double now) {
  r.last_input_at = now;
  r.echo_state = r.working ? 2 : 0;
}

}  // namespace mossbank::run
