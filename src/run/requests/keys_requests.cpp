#include "run/requests/keys_requests.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/utf8.h"
#include "run/session/hand_input.h"
#include "run/session/pty_agent.h"
#include "run/start/resume.h"
#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/approval.h"
#include "screen/input_pane.h"
#include "screen/typing_profile.h"
#include "terminal/terminal.h"

namespace mossbank::run {

namespace {

using outcome::kBusy;
using outcome::kDraft;
using outcome::kEmpty;
using outcome::kFailed;
using outcome::kPermission;
using outcome::kSent;
using outcome::kUnavailable;

constexpr size_t kMaxKeysUnits = 32;
constexpr size_t kMaxLaunchWords = 16;
constexpr size_t kMaxLaunchWordLength = 100;
constexpr std::string_view kEsc = "\x1b";

struct ScreenView {
  std::string agent;
  std::string plain;
  std::string styled;

  std::optional<std::string_view> agent_name() const {
    if (agent.empty()) return std::nullopt;
    return std::string_view(agent);
  }
};

ScreenView read_screen(RunShared& run, bool styled = false) {
  ScreenView view;
  auto lock = run.lock_current_screen();
  view.agent = run.screen.agent;
  view.plain = screen_lines(run.screen.terminal);
  if (styled) view.styled = screen_lines_styled(run.screen.terminal);
  return view;
}

std::string agent_name(RunShared& run) {
  std::lock_guard lock(run.screen_mutex);
  return run.screen.agent;
}

bool awaiting_approval_now(RunShared& run) {
  ScreenView view = read_screen(run);
  return screen::awaiting_approval(view.agent_name(), view.plain);
}

bool is_true(const JsonValue* value) {
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

bool launch_character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("._:/=-[]").find(c) != std::string_view::npos;
}

// The selection the village saw: none asked, or a number to equal the menu's.
bool selection_matches(const JsonValue* selected, const screen::Menu& menu) {
  if (selected == nullptr || !selected->is_number()) return true;
  if (!menu.selected) return false;
  return selected->get<double>() == static_cast<double>(*menu.selected);
}

// Takes the pending restart back when it is still the one stored at `at`.
void take_back_restart(RunShared& run, std::chrono::steady_clock::time_point at) {
  run.pending_restart.update([&](std::optional<PendingRestart>& pending) {
    if (pending && pending->requested_mono == at) {
      pending.reset();
      run.upgrade_requested.store(false);
    }
  });
}

}  // namespace

std::optional<std::vector<std::string>> launch_words_of(const JsonValue& command) {
  const JsonValue* launch = json_member(command, "launch");
  std::vector<std::string> words;
  if (launch == nullptr) return words;
  if (!launch->is_array() || launch->size() > kMaxLaunchWords) return std::nullopt;
  for (const JsonValue& item : *launch) {
    if (!item.is_string()) return std::nullopt;
    const std::string& word = item.get_ref<const std::string&>();
    if (word.empty() || word.size() > kMaxLaunchWordLength) return std::nullopt;
    if (!std::all_of(word.begin(), word.end(), launch_character)) return std::nullopt;
    words.push_back(word);
  }
  return words;
}

bool restart_pending(RunShared& run, std::chrono::steady_clock::time_point now) {
  const std::optional<PendingRestart> pending = run.pending_restart.copy();
  return pending && now - pending->requested_mono <= kRestartWindow;
}

std::string serve_keys_request(RunShared& run, const VillageRequest& request) {
  const JsonValue& command = request.command;
  const JsonValue* keys_value = json_member(command, "keys");
  const JsonValue* expect = json_member(command, "expect");
  if (keys_value == nullptr || !keys_value->is_string()) return std::string(kFailed);
  const std::string& keys = keys_value->get_ref<const std::string&>();
  const size_t units = utf16_length(keys);
  if (units < 1 || units > kMaxKeysUnits) return std::string(kFailed);
  if (expect == nullptr || !expect->is_object()) return std::string(kFailed);
  const JsonValue* signature = json_member(*expect, "signature");
  if (signature == nullptr || !signature->is_string()) return std::string(kFailed);

  ScreenView view = read_screen(run, true);
  std::optional<screen::Menu> menu = screen::read_menu(view.agent_name(), view.plain);
  if (!menu) menu = screen::read_menu(view.agent_name(), view.styled);
  if (!menu) return std::string(kFailed);
  if (menu->text != signature->get_ref<const std::string&>()) return std::string(kFailed);
  if (!selection_matches(json_member(*expect, "selected"), *menu)) return std::string(kFailed);
  if (!request_still_current(run, request)) return std::string(kFailed);
  if (menu->title == screen::kCommandCenterTitle) {
    // The command center takes only Esc, by its first option's key.
    const bool esc_back =
        !menu->options.empty() && menu->options.front().key == screen::kCommandCenterBackKey;
    if (keys != screen::kCommandCenterBackKey || !esc_back) return std::string(kFailed);
  }
  type_keys(run, filter_request_keys(keys));
  return std::string(kSent);
}

std::string serve_interrupt_request(RunShared& run, const VillageRequest& request) {
  const screen::TypingProfile profile = screen::typing_profile(agent_name(run));
  ScreenView view = read_screen(run);
  if (screen::awaiting_approval(view.agent_name(), view.plain)) return std::string(kPermission);
  const bool ctrl_c =
      std::any_of(profile.interrupt_keys.begin(), profile.interrupt_keys.end(),
                  [](screen::InterruptKey key) { return key == screen::InterruptKey::kCtrlC; });
  if (ctrl_c) {
    if (has_hand_draft(run)) return std::string(kDraft);
    if (!screen::pane_is_busy(view.plain)) return std::string(kEmpty);
  }
  if (!request_still_current(run, request)) return std::string(kFailed);
  bool first = true;
  for (screen::InterruptKey key : profile.interrupt_keys) {
    if (!first) {
      if (!run.waker.sleep_for(kInterruptKeyGap)) break;
      if (!request_still_current(run, request) || awaiting_approval_now(run)) break;
    }
    first = false;
    type_keys(run, screen::interrupt_key_bytes(key));
  }
  return std::string(kSent);
}

std::string serve_restart_request(RunShared& run, const VillageRequest& request) {
  const JsonValue& command = request.command;
  const std::optional<std::string_view> exit = exit_command(agent_name(run));
  if (!exit || !run.restartable) return std::string(kUnavailable);
  std::optional<std::vector<std::string>> launch = launch_words_of(command);
  if (!launch) return std::string(kUnavailable);
  if (run.restart_cancelled.exchange(false)) return std::string(kPermission);
  if (is_true(json_member(command, "again"))) return std::string(kSent);
  if (restart_pending(run, std::chrono::steady_clock::now())) return std::string(kSent);
  {
    std::lock_guard lock(run.activity_mutex);
    if (run.activity.working) return std::string(kBusy);
  }
  if (screen::pane_is_busy(read_screen(run).plain)) return std::string(kBusy);

  // Stored before Enter: an agent that exits at once still restarts.
  const JsonValue* session = json_member(command, "sessionId");
  PendingRestart pending;
  pending.session_id =
      session != nullptr && session->is_string() ? session->get<std::string>() : "";
  pending.requested_at = now_ms();
  pending.requested_mono = std::chrono::steady_clock::now();
  const auto armed_at = pending.requested_mono;
  run.launch_words.exchange(std::move(*launch));
  const bool upgrade = is_true(json_member(command, "upgrade"));
  run.pending_restart.update([&](std::optional<PendingRestart>& slot) {
    run.upgrade_requested.store(upgrade);
    slot = std::move(pending);
  });

  std::string outcome = type_into_agent(run, request, *exit, TypingFlags{});
  if (outcome != kSent) {
    // Enter was not pressed ("maybe-pasted" included): the agent is not exiting.
    take_back_restart(run, armed_at);
    return outcome;
  }
  RunShared* watched = &run;  // the run joins its jobs before it goes
  run.jobs.start("restart watch", [watched] { watch_restart_exit(*watched); });
  return outcome;
}

void watch_restart_exit(RunShared& run) {
  for (int look = 0; look < kRestartWatchLooks; ++look) {
    if (!run.waker.sleep_for(kRestartWatchInterval)) return;
    if (!restart_pending(run, std::chrono::steady_clock::now()) || run.stopping.load()) return;
    if (!awaiting_approval_now(run)) continue;
    // The agent asks something instead of exiting: no restart, and the
    // question goes away unanswered.
    const bool withdrawn = run.pending_restart.update([&](std::optional<PendingRestart>& slot) {
      if (!slot) return false;  // it exited meanwhile
      slot.reset();
      run.upgrade_requested.store(false);
      run.restart_cancelled.store(true);
      return true;
    });
    if (!withdrawn) return;
    if (run.input) run.input->write(kEsc);
    return;
  }
}

}  // namespace mossbank::run
