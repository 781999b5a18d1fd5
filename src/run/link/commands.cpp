#include "run/link/commands.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/utf8.h"
#include "platform/pty_spawn.h"
#include "run/session/activity.h"
#include "run/session/hand_input.h"
#include "run/session/mirror.h"
#include "run/requests/new_conversation.h"
#include "run/link/output_stream.h"
#include "run/link/posts.h"
#include "run/session/pty_agent.h"
#include "run/link/publisher.h"
#include "run/requests/requests.h"
#include "screen/session_ids.h"

namespace mossbank::run {

namespace {

constexpr size_t kMaxInputUnits = 65536;
constexpr size_t kMaxSessionIdUnits = 512;
constexpr size_t kMaxJoinLength = 64;
constexpr uint64_t kMinSide = 2;
constexpr uint64_t kMaxSide = 1000;

uint16_t clamp_side(uint32_t side) {
  return static_cast<uint16_t>(std::min<uint32_t>(side, 65535));
}

const std::string* text_member(const JsonValue& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return nullptr;
  return &it->get_ref<const std::string&>();
}

// A non-negative integer from kMinSide to kMaxSide.
std::optional<uint16_t> side_member(const JsonValue& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  uint64_t value;
  if (it->is_number_unsigned()) {
    value = it->get<uint64_t>();
  } else if (it->is_number_integer()) {
    int64_t signed_value = it->get<int64_t>();
    if (signed_value < 0) return std::nullopt;
    value = static_cast<uint64_t>(signed_value);
  } else {
    return std::nullopt;
  }
  if (value < kMinSide || value > kMaxSide) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool valid_join(std::string_view join) {
  if (join.empty() || join.size() > kMaxJoinLength) return false;
  return std::all_of(join.begin(), join.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

// A post made again for a new stream; through the poster when the run has
// one, so that a newer value from the pump is not overtaken.
void post_again(RunShared& run, const std::string& suffix, JsonValue body) {
  if (run.poster)
    run.poster->post(suffix, std::move(body));
  else
    report_run(run.link, suffix, body);
}

void take_village_size(RunShared& run, uint16_t cols, uint16_t rows) {
  bool own_terminal;
  {
    std::lock_guard lock(run.size_mutex);
    own_terminal = run.size.own_terminal;
    if (own_terminal) {
      run.size.cols = cols;
      run.size.rows = rows;
      run.size.village_recorded = true;
      run.size.village_in_force = true;
    }
  }
  if (own_terminal || !run.has_own_terminal.load()) resize_screen(run, cols, rows);
}

// The village typed: a size it recorded goes back in force.
void village_size_again(RunShared& run) {
  std::optional<std::pair<uint16_t, uint16_t>> size;
  {
    std::lock_guard lock(run.size_mutex);
    if (run.size.own_terminal && run.size.village_recorded && !run.size.village_in_force) {
      run.size.village_in_force = true;
      size = {run.size.cols, run.size.rows};
    }
  }
  if (size) resize_screen(run, size->first, size->second);
}

// The village panel's typing: through the key filter, as the user's keys go.
// False when the post of a typed line could not be started.
bool village_input(RunShared& run, std::string_view data) {
  screen::FilteredKeys keys = filter_village_input(run, data, screen::KeyClock::now());
  if (!keys.bytes.empty()) {
    village_size_again(run);
    {
      std::lock_guard lock(run.activity_mutex);
      note_input(run.activity, now_ms());
    }
    hold_state_briefly(run);
  }
  const bool told = !keys.submitted || tell_typed_line(run, now_ms());
  if (keys.bytes.empty()) return told;
  return run.village_input.write(run.input, std::move(keys.bytes)) && told;
}

void watch(RunShared& run, const std::string& join) {
  std::lock_guard screen_lock(run.screen_mutex);
  std::lock_guard publisher_lock(run.publisher_mutex);
  std::optional<Frame> snapshot;
  if (run.publisher.subscriber) {
    const Terminal& t = run.screen.terminal;
    snapshot = snapshot_frame(join, run.publisher.published, 0, clamp_side(t.cols),
                              clamp_side(t.rows), serialize(t, false) + serialize_presentation(t));
  }
  send_watch_frame(run, std::move(snapshot));
}

void set_screens(RunShared& run, bool on) {
  std::lock_guard lock(run.screen_mutex);
  if (on && !run.screen.screens) run.screen.post_now = true;
  run.screen.screens = on;
}

// A job the command needed could not be started: the link ends with this.
Status no_thread() { return failure(EAGAIN, "failed to spawn thread"); }

Status handle_village_command(RunShared& run, const JsonValue& command) {
  if (!command.is_object()) return ok_status();
  const std::string* type_text = text_member(command, "type");
  if (type_text == nullptr) return ok_status();
  const std::string& type = *type_text;

  if (type == "stop") {
    if (!stop_agent(run)) return no_thread();
  } else if (type == "talk" || type == "keys" || type == "interrupt") {
    if (!take_village_request(run, command, type)) return no_thread();
  } else if (type == "restart") {
    const std::string* session = text_member(command, "sessionId");
    if (session != nullptr && is_session_uuid(*session) &&
        !take_village_request(run, command, type))
      return no_thread();
  } else if (type == "input") {
    const std::string* data = text_member(command, "data");
    if (data == nullptr || data->empty() || utf16_length(*data) > kMaxInputUnits)
      return ok_status();
    if (run.stopping.load()) return ok_status();
    if (!village_input(run, *data)) return no_thread();
  } else if (type == "watch") {
    const std::string* join = text_member(command, "join");
    if (join != nullptr && valid_join(*join)) watch(run, *join);
  } else if (type == "unwatch") {
    end_watch(run);
  } else if (type == "resize") {
    auto cols = side_member(command, "cols");
    auto rows = side_member(command, "rows");
    if (!cols || !rows || run.stopping.load()) return ok_status();
    take_village_size(run, *cols, *rows);
  } else if (type == "own-size") {
    if (!run.stopping.load()) take_own_size(run);
  } else if (type == "session") {
    const std::string* session = text_member(command, "sessionId");
    if (session == nullptr || session->empty() || utf16_length(*session) > kMaxSessionIdUnits)
      return ok_status();
    auto from = command.find("fromRecords");
    set_session_id(run, *session, from != command.end() && from->is_boolean() && from->get<bool>());
  } else if (type == "screens") {
    auto on = command.find("on");
    if (on != command.end() && on->is_boolean()) set_screens(run, on->get<bool>());
  }
  return ok_status();
}

void ready(RunShared& run) {
  {
    std::lock_guard lock(run.screen_mutex);
    run.screen.post_now = true;
  }
  std::optional<JsonValue> activity;
  {
    std::lock_guard lock(run.activity_mutex);
    activity = run.activity.last_posted;
  }
  if (activity) post_again(run, "/activity", std::move(*activity));
  std::optional<JsonValue> colours;
  {
    std::lock_guard lock(run.colour_mutex);
    if (run.colours.is_object() && !run.colours.empty()) colours = run.colours;
  }
  if (colours) post_again(run, "/colours", std::move(*colours));
}

}  // namespace

Status handle_command(RunShared& run, const LinkEvent& event) {
  if (const auto* command = std::get_if<link_event::Command>(&event))
    return handle_village_command(run, command->value);
  if (std::holds_alternative<link_event::Ready>(event)) {
    ready(run);
  } else {
    end_watch(run);
    take_own_size(run);
  }
  return ok_status();
}

bool stop_agent(RunShared& run, std::chrono::nanoseconds grace) {
  if (run.stopping.exchange(true)) return true;
  std::shared_ptr<AgentProcess> agent = run.agent;
  if (agent) agent->kill(false);
  Waker* waker = &run.waker;  // the run joins its jobs before the waker goes
  return run.jobs.start("stop timer", [agent, waker, grace] {
    if (waker->sleep_for(grace) && agent) agent->kill(true);
  });
}

void resize_screen(RunShared& run, uint16_t cols, uint16_t rows) {
  {
    std::lock_guard lock(run.activity_mutex);
    run.activity.last_resize_at = now_ms();
  }
  // The screen takes the size before the agent learns of it, so that what
  // the agent draws for the new size (and asks, such as the cursor's
  // position) meets a screen of that size.
  {
    std::lock_guard screen_lock(run.screen_mutex);
    {
      std::lock_guard publisher_lock(run.publisher_mutex);
      Publisher& p = run.publisher;
      if (p.subscriber || p.enabled)
        publish_frame(run, size_frame(cols, rows));
      else
        p.last_size = std::make_pair(cols, rows);  // sent when a stream attaches
    }
    Terminal& t = run.screen.terminal;
    const uint32_t c = std::max<uint32_t>(cols, 2), r = std::max<uint32_t>(rows, 1);
    if (c != t.cols || r != t.rows) terminal_resize(t, c, r);
    run.screen_changed_locked();
  }
  if (run.agent) run.agent->resize(cols, rows);
}

std::optional<std::pair<uint16_t, uint16_t>> our_terminal_size(int fd) {
  uint16_t cols = 0;
  uint16_t rows = 0;
  if (!platform::terminal_size(fd, cols, rows)) return std::nullopt;
  return std::make_pair(cols, rows);
}

std::pair<uint16_t, uint16_t> current_size(RunShared& run) {
  if (auto own = our_terminal_size(run.user_terminal_fd)) return *own;
  std::lock_guard lock(run.screen_mutex);
  return {clamp_side(run.screen.terminal.cols), clamp_side(run.screen.terminal.rows)};
}

void take_own_size(RunShared& run) {
  bool was_in_force = false;
  {
    std::lock_guard lock(run.size_mutex);
    if (!run.size.own_terminal) return;
    run.size.village_recorded = false;
    was_in_force = std::exchange(run.size.village_in_force, false);
  }
  if (!was_in_force) return;
  auto [cols, rows] = current_size(run);
  resize_screen(run, cols, rows);
}

void end_watch(RunShared& run) {
  std::lock_guard lock(run.publisher_mutex);
  Publisher& p = run.publisher;
  p.enabled = false;
  ++p.generation;
  p.backlog.reset();
  p.backlog_size = 0;
  p.last_size.reset();
  if (std::shared_ptr<Subscriber> subscriber = std::exchange(p.subscriber, nullptr))
    subscriber->close_channel();
}

void send_watch_frame(RunShared& run, std::optional<Frame> snapshot) {
  Publisher& p = run.publisher;
  p.enabled = true;
  if (!snapshot) {
    if (!p.opening && !p.closed && !p.backlog) request_stream_open(run);
    return;
  }
  if (p.closed) return;
  // Room for the snapshot and 8 MiB after it, so a large screen does not
  // cut the stream it is meant for. Counted from what the daemon has read,
  // not from what waits: a daemon that never reads and watches again and
  // again is still cut.
  if (p.subscriber) p.limit = std::max(p.limit, encode_frame(*snapshot).size() + kBacklogLimit);
  publish_frame(run, std::move(*snapshot));
}

void set_session_id(RunShared& run, std::string_view session_id, bool from_records) {
  std::lock_guard lock(run.registration_mutex);
  JsonValue& registration = run.registration;
  registration["nativeSessionId"] = std::string(session_id);
  if (from_records) {
    registration["sessionFromRecords"] = true;
    return;
  }
  auto found = registration.find("sessionFromRecords");
  if (found == registration.end()) return;
  // The last key takes the removed key's place.
  std::vector<std::pair<std::string, JsonValue>> entries;
  for (auto it = registration.begin(); it != registration.end(); ++it)
    entries.emplace_back(it.key(), std::move(it.value()));
  auto gone = std::find_if(entries.begin(), entries.end(),
                           [](const auto& e) { return e.first == "sessionFromRecords"; });
  if (gone != entries.end() - 1) *gone = std::move(entries.back());
  entries.pop_back();
  JsonValue rebuilt = JsonValue::object();
  for (auto& [key, value] : entries) rebuilt[key] = std::move(value);
  registration = std::move(rebuilt);
}

bool is_session_uuid(std::string_view text) { return screen::is_session_id(text); }

}  // namespace mossbank::run
