#include "run/requests/typing.h"

#include <chrono>
#include <optional>

#include "base/utf8.h"
#include "run/requests/requests.h"
#include "screen/agent_menu.h"
#include "screen/agent_profiles.h"
#include "screen/approval.h"
#include "screen/command_line.h"
#include "screen/input_boxes.h"
#include "screen/input_pane.h"
#include "screen/slash_popups.h"
#include "screen/typing_profile.h"

namespace mossbank::run {

namespace {

using namespace std::chrono_literals;
namespace words = outcome;

constexpr int kClearPasses = 3;
constexpr auto kAfterClearing = 300ms;
constexpr auto kPasteModeAgain = 150ms;
constexpr auto kBeforeCheck = 400ms;
constexpr auto kPopupLook = 50ms;
constexpr int kPopupLooks = 21;  // at 0, 50, ..., 1000 ms
constexpr auto kAfterTakingBack = 300ms;

constexpr std::string_view kPasteStart = "\x1b[200~";
constexpr std::string_view kPasteEnd = "\x1b[201~";

// The screen as one read sees it.
struct View {
  std::string agent;
  std::string text;
  std::optional<screen::ScreenCursor> cursor;
};

View plain_view(RunShared& run) {
  auto lock = run.lock_current_screen();
  return {run.screen.agent, screen_lines(run.screen.terminal), std::nullopt};
}

// The marked lines with the cursor.
View marked_view(RunShared& run) {
  auto lock = run.lock_current_screen();
  const TerminalCursor c = terminal_cursor(run.screen.terminal);
  return {run.screen.agent, screen_lines_marked(run.screen.terminal),
          screen::ScreenCursor{c.col, c.row}};
}

bool bracketed_paste_on(RunShared& run) {
  auto lock = run.lock_current_screen();
  return run.screen.terminal.modes.bracketed_paste;
}

std::optional<std::string_view> agent_of(const std::string& agent) {
  if (agent.empty()) return std::nullopt;
  return agent;
}

bool input_box(const View& view, bool shell_mode) {
  return screen::has_input_box(agent_of(view.agent), view.text, shell_mode,
                               screen::is_approval_prompt);
}

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

size_t char_count(std::string_view text) {
  size_t n = 0;
  for (size_t pos = 0; pos < text.size(); ++n) next_code_point(text, pos);
  return n;
}

// Clears Claude Code's box of a draft in up to three passes; false when the
// draft still shows after the last.
bool clear_draft(RunShared& run, const VillageRequest& request) {
  View view = marked_view(run);
  const std::string draft = screen::read_command(view.text, {.cursor = view.cursor});
  for (int pass = 0; pass < kClearPasses; ++pass) {
    const bool box = screen::has_claude_prompt_box(view.text, false);
    if (!box || (pass > 0 && !screen::text_in_command_line(draft, view.text))) return true;
    if (!request_still_current(run, request)) return true;
    type_keys(run, clear_draft_keys(std::max<size_t>(screen::claude_box_rows(view.text), 1)));
    forget_hand_draft(run);
    run.waker.sleep_for(kAfterClearing);
    view = marked_view(run);
  }
  return !(screen::has_claude_prompt_box(view.text, false) &&
           screen::text_in_command_line(draft, view.text));
}

// Whether the box shows exactly the text (or the marker of a collapsed paste).
bool box_shows_text(const View& view, std::string_view text, bool shell) {
  return screen::input_shows_text(view.text, text, shell) &&
         screen::command_line_shows(view.text, {.shell_mode = shell, .cursor = view.cursor}, text);
}

}  // namespace

std::string clear_draft_keys(size_t rows) {
  std::string keys;
  for (size_t k = 0; k < rows; ++k) keys += "\x05\x15\x7f";
  keys += "\x05\x15";
  return keys;
}

std::string text_keys(std::string_view prefix, std::string_view text) {
  std::string keys(prefix);
  if (has_line_break(text)) {
    keys += kPasteStart;
    keys += text;
    keys += kPasteEnd;
  } else {
    keys += text;
  }
  return keys;
}

std::string type_into_agent(RunShared& run, const VillageRequest& request, std::string_view text,
                            TypingFlags flags) {
  auto word = [](std::string_view w) { return std::string(w); };
  if (text.empty()) return word(words::kUnsupported);  // nothing to press

  View view = plain_view(run);
  const std::string agent = view.agent;
  const screen::AgentProfile* profile = screen::agent_profile(agent);
  // Claude Code's prompt box: drafts it can clear, and its shell mode.
  const bool claude =
      profile != nullptr && profile->input_box == screen::InputBoxKind::kClaudePrompt;
  const bool shell = screen::is_shell_text(text);

  // Claude Code's shell mode takes one line, and only when asked for.
  if (claude && shell && (!flags.shell || has_line_break(text))) return word(words::kUnsupported);

  if (screen::is_agent_command_center(agent_of(agent), view.text)) return word(words::kPermission);

  if (flags.clear && claude && !clear_draft(run, request)) return word(words::kDraft);

  // The user's own draft.
  bool draft = has_hand_draft(run);
  if (draft && input_box_idle(run)) {
    forget_hand_draft(run);
    draft = false;
  }
  if (draft && !flags.force) return word(words::kDraft);
  const std::string_view prefix = draft ? " " : "";

  const std::optional<std::string> command = screen::slash_command_word(text);
  view = plain_view(run);
  if (!input_box(view, false)) {
    return word(claude && screen::is_shell_mode_prompt(view.text) ? words::kDraft
                                                                  : words::kPermission);
  }
  if (!flags.force) {
    if (claude && command) {
      const View marked = marked_view(run);
      if (!screen::input_box_is_empty(agent_of(agent), marked.text)) return word(words::kDraft);
    }
    if (!request_still_current(run, request) || has_hand_draft(run)) return word(words::kDraft);
  } else if (!request_still_current(run, request)) {
    return word(words::kDraft);
  }

  // One of the agent's own dialogs is open: nothing may be typed there.
  const screen::SlashPopupRule* popups =
      command && profile != nullptr ? profile->slash_popup : nullptr;
  if (popups != nullptr && screen::dialog_open(*popups, view.text)) return word(words::kPermission);

  if (has_line_break(text)) {
    if (screen::typing_profile(agent).typing == screen::Typing::kOneLine)
      return word(words::kUnsupported);
    const bool at_first_look = bracketed_paste_on(run);
    if (!at_first_look) {
      run.waker.sleep_for(kPasteModeAgain);
      if (!bracketed_paste_on(run)) return word(words::kUnsupported);
    }
    if (!request_still_current(run, request)) return word(words::kDraft);
    if (!flags.force && has_hand_draft(run)) return word(words::kDraft);
    if (!at_first_look && !input_box(plain_view(run), false)) return word(words::kPermission);
  }
  type_keys(run, text_keys(prefix, text));

  run.waker.sleep_for(kBeforeCheck);
  view = claude && flags.clear ? marked_view(run) : plain_view(run);
  if (!request_still_current(run, request) || (!flags.force && has_hand_draft(run)))
    return word(words::kMaybePasted);
  if (!input_box(view, shell)) return word(words::kMaybePasted);
  if (flags.clear && !box_shows_text(view, text, shell)) return word(words::kMaybePasted);

  if (popups != nullptr) {
    bool shown = false;
    for (int look = 0; look < kPopupLooks && !shown; ++look) {
      if (look > 0 && !run.waker.sleep_for(kPopupLook)) break;
      shown = screen::popup_command(*popups, plain_view(run).text) == command;
    }
    if (!shown) {
      type_keys(run, std::string(char_count(text), '\x7f'));
      run.waker.sleep_for(kAfterTakingBack);
      if (screen::text_left_behind(plain_view(run).text, text, *command))
        return word(words::kDraft);
      forget_hand_draft(run);
      return word(words::kNoPopup);
    }
  }

  type_keys(run, "\r");
  forget_hand_draft(run);
  return word(words::kSent);
}

}  // namespace mossbank::run
