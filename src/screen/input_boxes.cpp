#include "screen/input_boxes.h"

#include "base/text.h"
#include "screen/agent_profiles.h"
#include "screen/command_line.h"
#include "screen/row_text.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

// Grok: "│ > text   │" inside a rounded box whose bottom edge carries a status.
constinit const ScreenPattern grok_prompt{"^([ \\t]*│ [>❯] ?)", kBoxPatternFailure};
constinit const ScreenPattern grok_continuation{"^([ \\t]*│ {3}){js_nonspace}", kBoxPatternFailure};
constinit const ScreenPattern grok_bottom{
    "^[ \\t]*(?:╰─+ {js_nonspace}.* ─+╯|└─+ {js_nonspace}.* ─+┘)$", kBoxPatternFailure};
constinit const ScreenPattern grok_placeholder{"^(?:Type a message\\.\\.\\.)?$",
                                               kBoxPatternFailure};
constinit const ScreenPattern grok_cleanup{
    "[ \\t]+(?:\\x1b\\[[0-9;:?]*[A-Za-z])*│(?:\\x1b\\[[0-9;:?]*[A-Za-z]|[ \\t])*$",
    kBoxPatternFailure};
bool has_bar(std::string_view row) { return row.find("│") != std::string_view::npos; }

}  // namespace

constinit const BoxPatterns grok_box_patterns{grok_prompt,      grok_continuation, grok_bottom,
                                              grok_placeholder, grok_cleanup,      nullptr,
                                              nullptr,          has_bar,           nullptr};

namespace {

// Codex: "› text" with two-blank continuation rows and a status row below.
constinit const ScreenPattern codex_prompt{"^(›(?:[ \\t]|$))", kBoxPatternFailure};
constinit const ScreenPattern codex_continuation{"^( {2}){js_nonspace}", kBoxPatternFailure};
constinit const ScreenPattern codex_bottom{"^ {2}{js_nonspace}.* · (?:[~/]|[A-Za-z]:\\\\)",
                                           kBoxPatternFailure};
constinit const ScreenPattern codex_placeholder{
    "^(?:Ask Codex to do anything|Ask a follow-up question)$", kBoxPatternFailure};
constinit const ScreenPattern codex_cleanup{"[\\u{2800}-\\u{28ff}]", kBoxPatternFailure};
constinit const ScreenPattern codex_exclusion{
    "(?:^|\\n){js_space}*[Aa][Gg][Ee][Nn][Tt] [Cc][Oo][Mm][Mm][Aa][Nn][Dd] "
    "[Cc][Ee][Nn][Tt][Ee][Rr](?-u:\\b)|[Bb][Aa][Cc][Kk] [Tt][Oo] [Aa][Gg][Ee][Nn][Tt] "
    "[Cc][Oo][Mm][Mm][Aa][Nn][Dd] [Cc][Ee][Nn][Tt][Ee][Rr]",
    kBoxPatternFailure};
constinit const ScreenPattern codex_footer{"\\? for shortcuts", kBoxPatternFailure};
// U+2800..U+28FF are E2 A0 80 .. E2 A3 BF.
bool has_braille(std::string_view row) {
  for (size_t at = 0; (at = row.find('\xE2', at)) != std::string_view::npos; ++at) {
    if (at + 1 < row.size() && static_cast<unsigned char>(row[at + 1]) >= 0xA0 &&
        static_cast<unsigned char>(row[at + 1]) <= 0xA3) {
      return true;
    }
  }
  return false;
}
// Both alternatives of the exclusion end in "command center", in any case.
bool mentions_command_center(std::string_view screen) {
  return ascii_lower(screen).find("command center") != std::string::npos;
}

}  // namespace

constinit const BoxPatterns codex_box_patterns{
    codex_prompt,     codex_continuation, codex_bottom, codex_placeholder,      codex_cleanup,
    &codex_exclusion, &codex_footer,      has_braille,  mentions_command_center};

namespace {

// Rows as the boxes are compared: without trailing blanks.
std::vector<std::string> box_rows_of(std::string_view text) {
  std::vector<std::string> rows = split_lines(text);
  for (std::string& row : rows) row.resize(trim_row_end(row).size());
  return rows;
}

bool box_is(std::optional<AgentName> agent, InputBoxKind kind) {
  const AgentProfile* profile = agent_profile(agent);
  return profile != nullptr && profile->input_box == kind;
}

// The bare box's rows: cleanup matches replaced in each line (escapes still
// in, so that the pattern can see them), then escapes stripped.
std::vector<std::string> bare_box_rows(const BoxPatterns& set, std::string_view screen) {
  std::string cleaned;
  bool first = true;
  for (const std::string& line : split_lines(screen)) {
    if (!first) cleaned += '\n';
    first = false;
    cleaned += set.cleanup_may_match(line) ? set.cleanup.replace_all(line, " ") : line;
  }
  return box_rows_of(strip_escapes(cleaned));
}

// The exclusion reads the text without escapes, and so does its quick test:
// a style change inside the words must not hide them.
bool excluded(const BoxPatterns& set, std::string_view screen) {
  if (set.exclusion == nullptr) return false;
  const std::string plain = strip_escapes(screen);
  return set.exclusion_may_match(plain) && set.exclusion->is_match(plain);
}

struct BareBoxScan {
  std::vector<std::string> rows;
  std::optional<size_t> bottom;
  std::optional<InputBox> box;
};

BareBoxScan scan_bare_box(const BoxPatterns& set, std::string_view screen) {
  BareBoxScan scan;
  if (excluded(set, screen)) return scan;
  scan.rows = bare_box_rows(set, screen);
  scan.bottom = find_box_bottom(scan.rows, set.bottom);
  std::optional<std::pair<size_t, size_t>> box = find_box_rows(scan.rows, set, scan.bottom);
  if (!box) return scan;
  std::optional<Match> prefix = set.prompt.find(scan.rows[box->first]);
  const size_t width = prefix && prefix->group(1) ? char_count(*prefix->group(1)) : 0;
  scan.box = InputBox{box->first, box->second,
                      std::string(js_trim(drop_chars(scan.rows[box->second], width)))};
  return scan;
}

// Antigravity's ruled box: its rules, its prompt and the indent of its
// continuation rows. Also read by read_ruled_box below.
constinit const ScreenPattern ruled_rule{"^─{20,}$"};
constinit const ScreenPattern ruled_prompt{
    "^(>)(?:[ \\t]|$|\\[Pasted text #[0-9]+(?: \\+[0-9]+ lines?)?\\]$)"};
constinit const ScreenPattern ruled_indent{"^( {2})"};

std::optional<std::pair<size_t, size_t>> ruled_box_bounds(const std::vector<std::string>& rows,
                                                          size_t closing) {
  for (size_t k = closing; k-- > 0;) {
    const std::string& row = rows[k];
    if (ruled_prompt.is_match(row)) {
      if (k == 0 || !ruled_rule.is_match(rows[k - 1])) return std::nullopt;
      return std::pair<size_t, size_t>{k, closing};
    }
    if (row.empty() || ruled_indent.is_match(row)) continue;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<size_t> last_non_empty(const std::vector<std::string>& rows) {
  for (size_t k = rows.size(); k-- > 0;) {
    if (!rows[k].empty()) return k;
  }
  return std::nullopt;
}

}  // namespace

const BoxPatterns* box_patterns_for(std::string_view agent) {
  const AgentProfile* profile = agent_profile(agent);
  return profile != nullptr ? profile->bare_box : nullptr;
}

std::optional<size_t> find_box_bottom(const std::vector<std::string>& rows,
                                      const ScreenPattern& bottom) {
  std::optional<size_t> last = last_non_empty(rows);
  if (!last || *last == 0) return std::nullopt;
  for (size_t k = *last, tested = 0; k >= 1 && tested < 4; --k, ++tested) {
    if (bottom.is_match(rows[k])) return k;
  }
  return std::nullopt;
}

std::optional<std::pair<size_t, size_t>> find_box_rows(const std::vector<std::string>& rows,
                                                       const BoxPatterns& set,
                                                       std::optional<size_t> bottom) {
  if (!bottom) return std::nullopt;
  std::optional<size_t> last;
  for (size_t k = *bottom; k-- > 0;) {
    if (!rows[k].empty()) {
      last = k;
      break;
    }
  }
  if (!last) return std::nullopt;
  if (set.prompt.is_match(rows[*last])) return std::pair<size_t, size_t>{*last, *last};
  if (!set.continuation.is_match(rows[*last])) return std::nullopt;
  size_t k = *last;
  while (k > 0 && set.continuation.is_match(rows[k - 1]) && !set.prompt.is_match(rows[k - 1])) --k;
  if (k == 0 || !set.prompt.is_match(rows[k - 1])) return std::nullopt;
  return std::pair<size_t, size_t>{k - 1, *last};
}

std::optional<InputBox> read_bare_box(std::string_view agent, std::string_view screen) {
  const BoxPatterns* set = box_patterns_for(agent);
  if (set == nullptr) return std::nullopt;
  return scan_bare_box(*set, screen).box;
}

bool has_input_box(std::optional<AgentName> agent, std::string_view screen, bool shell_mode,
                   ApprovalTest is_approval_prompt) {
  const BoxPatterns* set = agent ? box_patterns_for(*agent) : nullptr;
  if (set != nullptr) {
    const BareBoxScan scan = scan_bare_box(*set, screen);
    if (!scan.box) return false;
    const InputBox& box = *scan.box;
    bool footer = false;
    for (size_t k = *scan.bottom + 1; set->footer && k < scan.rows.size() && !footer; ++k) {
      footer = set->footer->is_match(scan.rows[k]);
    }
    const bool one_row = box.prompt_row == box.last_row;
    const bool counts = footer
                            ? one_row || !box.text.empty()
                            : (one_row && set->placeholder.is_match(box.text)) || !box.text.empty();
    return counts && !is_approval_prompt(agent, screen);
  }
  if (box_is(agent, InputBoxKind::kClaudePrompt)) return has_claude_prompt_box(screen, shell_mode);
  return !is_approval_prompt(agent, screen);
}

bool input_box_is_empty(std::optional<AgentName> agent, std::string_view screen) {
  if (!agent) return false;
  if (box_is(agent, InputBoxKind::kClaudePrompt)) {
    if (!has_claude_prompt_box(screen, false) || is_shell_mode_prompt(screen)) return false;
    return read_command(screen).empty();
  }
  if (ruled_box_input_empty(agent, screen)) return true;
  if (std::optional<std::string> text = read_side_box(agent, screen)) return text->empty();
  const BoxPatterns* set = box_patterns_for(*agent);
  if (set == nullptr || set->footer == nullptr) return false;
  if (excluded(*set, screen)) return false;
  std::vector<std::string> rows = box_rows_of(strip_escapes(screen));
  for (std::string& row : rows) {
    if (set->cleanup_may_match(row))
      row = std::string(trim_row_end(set->cleanup.replace_all(row, " ")));
  }
  const std::optional<size_t> bottom = find_box_bottom(rows, set->bottom);
  std::optional<std::pair<size_t, size_t>> box = find_box_rows(rows, *set, bottom);
  if (!box || box->first != box->second) return false;
  for (size_t k = *bottom + 1; k < rows.size(); ++k) {
    if (set->footer->is_match(rows[k])) return true;
  }
  return false;
}

// OpenCode's side box, from the bottom up: the edge, a status row, an empty
// bar row, the input row, another empty bar row.
constinit const ScreenPattern side_bottom_edge{"^[ \\t]*╹▀"};
constinit const ScreenPattern side_status_row{"^[ \\t]*┃ {2}{js_nonspace}+ · {js_nonspace}"};
constinit const ScreenPattern side_empty_bar{"^[ \\t]*┃$"};
constinit const ScreenPattern side_input_row{"^[ \\t]*┃ {2}(.*)$"};
constinit const ScreenPattern side_placeholder{"^Ask anything…(?: \".*\")?$"};

std::optional<std::string> read_side_box(std::optional<AgentName> agent, std::string_view screen) {
  if (!box_is(agent, InputBoxKind::kSide)) return std::nullopt;
  const std::vector<std::string> rows = box_rows_of(strip_escapes(screen));
  std::optional<size_t> edge;
  for (size_t k = rows.size(); k-- > 0;) {
    if (side_bottom_edge.is_match(rows[k])) {
      edge = k;
      break;
    }
  }
  if (!edge || *edge < 4) return std::nullopt;
  const size_t e = *edge;
  if (!side_status_row.is_match(rows[e - 1]) || !side_empty_bar.is_match(rows[e - 2]) ||
      !side_empty_bar.is_match(rows[e - 4])) {
    return std::nullopt;
  }
  const std::string& input = rows[e - 3];
  if (side_empty_bar.is_match(input)) return std::string();
  std::optional<Match> m = side_input_row.find(input);
  if (!m) return std::nullopt;
  std::string text(js_trim(*m->group(1)));
  if (side_placeholder.is_match(text)) text.clear();
  return text;
}

// A task row drawn in the ruled box.
constinit const ScreenPattern ruled_task_row{"^\\s*[●○✓✗✕] \\[\\d{2}:\\d{2}:\\d{2}\\]"};

std::optional<InputBox> read_ruled_box(std::optional<AgentName> agent, std::string_view screen) {
  if (!box_is(agent, InputBoxKind::kRuled)) return std::nullopt;
  const std::vector<std::string> rows = box_rows_of(strip_escapes(screen));
  std::optional<size_t> last = last_non_empty(rows);
  if (!last || *last < 2 || ruled_rule.is_match(rows[*last]) ||
      !ruled_rule.is_match(rows[*last - 1])) {
    return std::nullopt;
  }
  std::optional<std::pair<size_t, size_t>> bounds = ruled_box_bounds(rows, *last - 1);
  if (!bounds) {
    // Task rows between the box and the status row, under a rule of their own.
    size_t k = *last - 1;
    while (k > 0 && ruled_task_row.is_match(rows[k - 1])) --k;
    if (k == *last - 1 || k == 0 || !ruled_rule.is_match(rows[k - 1])) return std::nullopt;
    bounds = ruled_box_bounds(rows, k - 1);
    if (!bounds) return std::nullopt;
  }
  std::string text;
  for (size_t k = bounds->first; k < bounds->second; ++k) {
    if (k != bounds->first) text += '\n';
    const ScreenPattern& prefix = k == bounds->first ? ruled_prompt : ruled_indent;
    std::optional<Match> m = prefix.find(rows[k]);
    text += m ? std::string_view(rows[k]).substr(m->span(1)->end) : std::string_view(rows[k]);
  }
  return InputBox{bounds->first, bounds->second - 1, std::string(js_trim(text))};
}

// The mode lines under the ruled box.
constinit const ScreenPattern ruled_mode_line{"^\\S+ mode: .+ \\(shift\\+tab to cycle\\)$"};
constexpr std::string_view kModeLines[] = {
    "Accept-edits mode: file edits auto-approved (shift+tab to cycle)",
    "Auto mode: edits & safe commands auto-approved (shift+tab to cycle)",
    "Plan mode: research & plan only (shift+tab to cycle)",
};

bool ruled_box_input_empty(std::optional<AgentName> agent, std::string_view screen) {
  std::optional<InputBox> box = read_ruled_box(agent, screen);
  if (!box) return false;
  const std::string& text = box->text;
  if (text.empty() || ruled_mode_line.is_match(text)) return true;
  // A mode line cut short with "..." while the shortcuts hint shows.
  const std::vector<std::string> rows = box_rows_of(strip_escapes(screen));
  const std::string& status = rows[*last_non_empty(rows)];
  if (!starts_with(status, "? for shortcuts") || text.size() < 3 ||
      text.compare(text.size() - 3, 3, "...") != 0) {
    return false;
  }
  const std::string_view cut = std::string_view(text).substr(0, text.size() - 3);
  if (cut.find(" mode: ") == std::string_view::npos) return false;
  for (std::string_view line : kModeLines) {
    if (starts_with(line, cut)) return true;
  }
  return false;
}

bool has_claude_prompt_box(std::string_view screen, bool shell_mode) {
  const std::vector<std::string> rows = box_rows_of(strip_escapes(screen));
  bool qualifies = false;
  for (size_t k = 0; k < rows.size(); ++k) {
    const bool after_rule = k > 0 && is_rule_row(rows[k - 1]);
    if (is_prompt_marker_row(rows[k])) {
      qualifies = after_rule && starts_with(rows[k], "❯");
    } else if (shell_mode && is_shell_mode_row(rows[k])) {
      bool closed = false;
      for (size_t below = k + 1; below < rows.size() && !closed; ++below) {
        closed = is_rule_row(rows[below]);
      }
      qualifies = after_rule && closed;
    }
  }
  return qualifies;
}

}  // namespace mossbank::screen
