#include "screen/approval.h"

#include <string>
#include <vector>

#include "base/text.h"
#include "screen/agent_menu.h"
#include "screen/input_boxes.h"
#include "screen/menu.h"
#include "screen/screen_pattern.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

// A word that starts an approval option.
constinit const ScreenPattern approval_words_pattern{
    "^(?:yes|no|allow|deny|approve|reject|always|don't|don’t|do not|cancel|proceed|trust|skip|"
    "continue|once|session)(?:[^a-z]|$)"};

bool starts_with_approval_word(std::string_view text) {
  return approval_words_pattern.is_match(ascii_lower(text));
}

// Drops the match of `pattern` at the start of `text`; whether there was one.
bool drop_prefix(const ScreenPattern& pattern, std::string_view& text) {
  std::optional<Match> m = pattern.find(text);
  if (!m) return false;
  text.remove_prefix(m->end());
  return true;
}

std::string_view trim_end_blanks(std::string_view row) {
  while (!row.empty() && (row.back() == ' ' || row.back() == '\t')) row.remove_suffix(1);
  return row;
}

// The row without blanks and box side bars at either end.
std::string_view trim_bars(std::string_view row) {
  for (size_t n; (n = side_bar_length(row, true)) != 0;) row.remove_prefix(n);
  for (size_t n; (n = side_bar_length(row, false)) != 0;) row.remove_suffix(n);
  return row;
}

// Key choices offered in brackets: "[y/n]", "(Y)es/(N)o".
constinit const ScreenPattern key_choice_patterns[] = {
    ScreenPattern{"[\\[(][a-zA-Z](?:/[a-zA-Z])+[\\])]"},
    ScreenPattern{"(?:^|[^a-zA-Z])[yY]/[nN](?:[^a-zA-Z]|$)"},
    ScreenPattern{"\\([Yy]\\)es[ \\t]*/[ \\t]*\\([Nn]\\)o"},
    ScreenPattern{"\\[[yY]\\].*\\[[nN]\\]"},
};
// Phrases that ask, in lower case.
constinit const ScreenPattern asking_pattern{
    "do you want to|enter to confirm|waiting for (?:your )?(?:approval|confirmation|permission)|"
    "(?:permission|approval) (?:required|requested|needed)|type your (?:own )?answer|"
    "type something"};
// A row that starts, after any symbols, with "allow" or "approve".
constinit const ScreenPattern leading_symbols_pattern{"^[^a-z0-9]+"};
constinit const ScreenPattern allow_pattern{"^allow(?:[^a-z]|$)"};
constinit const ScreenPattern approve_pattern{"^approve(?:[^a-z]|$)"};
// A status line that starts with the hint, or counts queued messages.
constinit const ScreenPattern esc_status_patterns[] = {
    ScreenPattern{"esc to cancel,[ \\t]*[0-9]"},
    ScreenPattern{"^esc to cancel {2,}\\S"},
};

// A sign on one row that a question is asked.
bool asks(std::string_view row) {
  // Each key choice holds a "/" or a "[".
  if (row.find_first_of("/[") != std::string_view::npos) {
    for (const ScreenPattern& p : key_choice_patterns) {
      if (p.is_match(row)) return true;
    }
  }
  const std::string lower = ascii_lower(row);
  if (asking_pattern.is_match(lower)) return true;
  std::string_view words = lower;
  drop_prefix(leading_symbols_pattern, words);
  if (allow_pattern.is_match(words) && lower.find('?') != std::string::npos) return true;
  if (approve_pattern.is_match(words)) return true;
  if (lower.find("esc to cancel") != std::string::npos) {
    for (const ScreenPattern& p : esc_status_patterns) {
      if (p.is_match(lower)) return false;
    }
    return true;
  }
  return false;
}

}  // namespace

bool is_approval_prompt(std::optional<std::string_view> agent, std::string_view screen) {
  const bool menu = agent ? read_menu(agent, screen).has_value()
                          : read_terminal(strip_escapes(screen)).has_value();
  return menu || approval_signs_in_rows(screen);
}

bool awaiting_approval(std::optional<std::string_view> agent, std::string_view screen) {
  if (!is_approval_prompt(agent, screen)) return false;
  // The box test asks the approval test again; its answer is known.
  return !has_input_box(agent, screen, false,
                        [](std::optional<AgentName>, std::string_view) { return true; });
}

// An option row's marks: a radio button, the cursor, a number, a key in
// brackets.
constinit const ScreenPattern radio_option_pattern{"^[0-9a-z][ \\t]+\\((?:○|●|◉)\\)[ \\t]*"};
constinit const ScreenPattern filled_radio_pattern{"^[0-9a-z][ \\t]+\\((?:●|◉)\\)"};
constinit const ScreenPattern cursor_marker_pattern{"^(?:❯|›|>|●|▶|◆|○|◉|→)[ \\t]*"};
constinit const ScreenPattern option_number_pattern{"^[0-9][0-9]?[.)][ \\t]*"};
constinit const ScreenPattern bracket_key_pattern{"^[\\[(][a-zA-Z0-9][\\])][ \\t]*"};

OptionRow classify_option_row(std::string_view row, size_t index) {
  OptionRow out;
  out.index = index;
  if (std::optional<Match> radio = radio_option_pattern.find(row)) {
    out.selected = filled_radio_pattern.is_match(row);
    out.numbered = true;
    out.kind = starts_with_approval_word(row.substr(radio->end())) ? kStartsWithApprovalWord
                                                                   : kOtherOption;
    return out;
  }
  std::string_view rest = row;
  out.selected = drop_prefix(cursor_marker_pattern, rest);
  out.numbered = drop_prefix(option_number_pattern, rest);
  drop_prefix(bracket_key_pattern, rest);
  if (starts_with_approval_word(rest)) {
    out.kind = kStartsWithApprovalWord;
  } else {
    out.kind = out.numbered ? kOtherOption : kNotAnOption;
  }
  return out;
}

bool is_choice_group(std::span<const OptionRow> group) {
  size_t worded = 0, numbered = 0;
  bool worded_selected = false, numbered_selected = false;
  for (const OptionRow& row : group) {
    if (row.kind == kStartsWithApprovalWord) {
      ++worded;
      worded_selected = worded_selected || row.selected;
    }
    if (row.numbered) {
      ++numbered;
      numbered_selected = numbered_selected || row.selected;
    }
  }
  return (worded > 1 && worded_selected) || (numbered > 1 && numbered_selected);
}

// A rule above an input box.
constinit const ScreenPattern rule_row_pattern{"^[─━]{8,}"};
// Claude Code's input prompt, right under a rule.
constinit const ScreenPattern input_prompt_pattern{"^❯(?:[ \\t\\u{a0}]|$)"};
// The start of any agent's prompt row, and a row drawn only of frame.
constinit const ScreenPattern prompt_marker_pattern{"^(?:>|›|❯|\\([^)]{1,3}\\)>)(?:[ \\t]|$)"};
constinit const ScreenPattern frame_row_pattern{
    "^(?:[ \\t-]|─|━|═|╌|┄|┈|╭|╮|╰|╯|┌|┐|└|┘|├|┤|┬|┴|┼|╔|╗|╚|╝)*$"};

// Whether `row` starts as a prompt marker can: ">", "(", or the lead byte
// of "›" and "❯".
bool may_be_prompt_marker(std::string_view row) {
  return !row.empty() && (row[0] == '>' || row[0] == '(' || row[0] == '\xE2');
}
// Whether a row with text is drawn only of frame: it starts with a blank,
// "-", or the lead byte of the box characters.
bool frame_only(std::string_view row) {
  const char c = row[0];
  return (c == ' ' || c == '\t' || c == '-' || c == '\xE2') && frame_row_pattern.is_match(row);
}

bool approval_signs_in_rows(std::string_view screen) {
  const std::vector<std::string> lines = split_lines(strip_escapes(screen));
  std::vector<std::string_view> raw, cleaned;
  raw.reserve(lines.size());
  cleaned.reserve(lines.size());
  for (const std::string& line : lines) {
    raw.push_back(trim_end_blanks(line));
    cleaned.push_back(trim_bars(raw.back()));
  }

  // Rows above the agent's own prompt (or a prompt marker that is no
  // option) are transcript.
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    // Both prompts begin with one of their marks: a row that does not is
    // no prompt, and costs no pattern search (this runs after every key).
    const bool input_prompt = raw[i].starts_with("❯") && i > 0 &&
                              rule_row_pattern.is_match(raw[i - 1]) &&
                              input_prompt_pattern.is_match(raw[i]);
    if (may_be_prompt_marker(cleaned[i]) && prompt_marker_pattern.is_match(cleaned[i])) {
      if (input_prompt || classify_option_row(cleaned[i], i).kind == kNotAnOption) start = i + 1;
    } else if (input_prompt) {
      start = i + 1;
    }
  }
  // And only the last 20 non-empty rows count.
  size_t non_empty = 0;
  size_t lower_bound = 0;
  for (size_t i = cleaned.size(); i-- > 0;) {
    if (!cleaned[i].empty() && ++non_empty == 20) {
      lower_bound = i;
      break;
    }
  }
  if (lower_bound > start) start = lower_bound;

  std::vector<OptionRow> group;
  for (size_t i = start; i < cleaned.size(); ++i) {
    const std::string_view row = cleaned[i];
    if (row.empty()) continue;
    if (frame_only(row)) {
      if (is_choice_group(group)) return true;
      group.clear();
      continue;
    }
    if (asks(row)) return true;
    const OptionRow option = classify_option_row(row, i);
    if (option.kind == kNotAnOption) continue;
    if (group.empty() || option.index <= group.back().index + 3) {
      group.push_back(option);
    } else {
      if (is_choice_group(group)) return true;
      group.assign(1, option);
    }
  }
  return is_choice_group(group);
}

}  // namespace mossbank::screen
