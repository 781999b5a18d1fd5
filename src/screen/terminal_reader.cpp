#include "screen/terminal_reader.h"

#include <algorithm>
#include <array>
#include <span>

#include "base/text.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

// The row tests run on every row of every screen, so the simplest patterns
// are written out by hand:
//   rule          ^[─━]{8,}
//   prompt        ^❯(?:{js_space}|$)
//   prompt glyph  ^❯{js_space}?
//   shell mode    ^!(?:{js_space}|$)
//   marker row    ^[ \t]*[❯›▶]
//   heavy rule    [─━═▔]{6,}
//   dashed row    ^(?:{js_space}|[╌┄┈-])+$

constexpr size_t kMaxRowsBelow = 6;    // non-blank rows allowed below a menu
constexpr size_t kTitleRows = 16;      // rows collected above a menu
constexpr size_t kQuestionReach = 40;  // box rows below a menu that still belong to it

bool is_prompt_row(std::string_view row) {
  return starts_with(row, "❯") && at_blank_or_end(row.substr(3));
}

bool has_heavy_rule(std::string_view row) {
  if (row.find('\xE2') == std::string_view::npos) return false;
  size_t run = 0;
  for (size_t pos = 0; pos < row.size();) {
    const char32_t c = next_char(row, pos);
    run = c == U'─' || c == U'━' || c == U'═' || c == U'▔' ? run + 1 : 0;
    if (run >= 6) return true;
  }
  return false;
}

bool is_dashed_row(std::string_view row) {
  return !row.empty() && all_chars(row, [](char32_t c) {
    return is_js_space(c) || c == U'╌' || c == U'┄' || c == U'┈' || c == U'-';
  });
}

// Whether `row` holds one of `needles`, which all start with the same byte.
// One pass over the row instead of a search for each: this runs on every row
// for every key the user types.
template <size_t N>
bool contains_any(std::string_view row, const std::array<std::string_view, N>& needles) {
  const char lead = needles[0][0];
  for (size_t at = row.find(lead); at != std::string_view::npos; at = row.find(lead, at + 1)) {
    const std::string_view rest = row.substr(at);
    for (std::string_view needle : needles) {
      // Byte by byte: the needles are a few bytes long, and a call to
      // memcmp for each costs more than the compare.
      if (needle.size() > rest.size()) continue;
      size_t i = 1;
      while (i < needle.size() && rest[i] == needle[i]) ++i;
      if (i == needle.size()) return true;
    }
  }
  return false;
}

constexpr bool same_lead(std::span<const std::string_view> needles) {
  for (std::string_view needle : needles) {
    if (needle.empty() || needle[0] != needles[0][0]) return false;
  }
  return true;
}

constexpr std::array<std::string_view, 7> kBoxChars = {"│", "┃", "┌", "└", "├", "╭", "╰"};
constexpr std::array<std::string_view, 3> kCursorMarkers = {"❯", "›", "▶"};
static_assert(same_lead(kBoxChars) && same_lead(kCursorMarkers));

// The patterns that need a box character or a marker are tried only on rows
// that have one: most rows of a screen have neither.
bool has_box_char(std::string_view row) { return contains_any(row, kBoxChars); }

bool has_cursor_marker(std::string_view row) { return contains_any(row, kCursorMarkers); }

struct OptionDraft {
  std::string label;
  std::optional<std::string> detail;
  std::optional<size_t> label_column;  // after a number prefix
};

// An option's number: "1." or "1)".
constinit const ScreenPattern option_number_pattern{"^([0-9]{1,2})[.)]{js_space}+"};

OptionDraft start_option(std::string_view text, size_t column) {
  OptionDraft option{std::string(text), std::nullopt, std::nullopt};
  if (std::optional<Match> m = option_number_pattern.find(text)) {
    option.label_column = column + char_count(m->str());
  }
  return option;
}

}  // namespace

bool is_rule_row(std::string_view row) {
  return leading_run(row, [](char32_t c) { return c == U'─' || c == U'━'; }).second >= 8;
}

bool is_shell_mode_row(std::string_view row) {
  return starts_with(row, "!") && at_blank_or_end(row.substr(1));
}

bool is_prompt_marker_row(std::string_view row) {
  row.remove_prefix(std::min(row.find_first_not_of(" \t"), row.size()));
  return starts_with(row, "❯") || starts_with(row, "›") || starts_with(row, "▶");
}

std::optional<size_t> find_prompt_row(std::span<const std::string> rows, bool shell_mode) {
  for (size_t k = rows.size(); k-- > 1;) {
    const bool prompt = is_prompt_row(rows[k]) || (shell_mode && is_shell_mode_row(rows[k]));
    if (prompt && is_rule_row(rows[k - 1])) return k;
  }
  return std::nullopt;
}

bool cursor_at_prompt_start(std::string_view screen, size_t cursor_column, size_t cursor_row) {
  // The rows keep their trailing blanks: the row tests do not look at them,
  // and the glyph is measured with them (an empty prompt is "❯ " with the
  // cursor after the blank).
  const std::vector<std::string> rows = split_lines(strip_escapes(screen));
  std::optional<size_t> prompt = find_prompt_row(rows, false);
  if (!prompt || *prompt != cursor_row) return false;
  const std::string_view row = rows[*prompt];
  if (!starts_with(row, "❯")) return false;
  return cursor_column == (at_blank_or_end(row.substr(3)) && row.size() > 3 ? 2u : 1u);
}

// A box's side bars at either end of a row, and a row that is only its
// top or bottom edge.
constinit const ScreenPattern box_bars_pattern{"^(?:{js_space}|[│┃])+|(?:{js_space}|[│┃])+$"};
constinit const ScreenPattern box_border_pattern{"^[┌└├╭╰][─━╌]*[┐┘┤╮╯]?$"};

void box_rows(std::vector<BoxRow>& boxes, size_t index, std::string_view text) {
  std::string stripped = box_bars_pattern.replace_all(text, "");
  if (box_border_pattern.is_match(stripped)) return;
  boxes.push_back(BoxRow{std::move(stripped), index});
}

// The cursor row: indentation, marker, text.
constinit const ScreenPattern cursor_row_pattern{
    "^({js_space}*)([❯›▶]){js_space}+({js_nonspace}.*)$"};
// The free-text option: "Type something" or "Other".
constinit const ScreenPattern free_text_option_pattern{
    "(?i)^([0-9]{1,2}[.)]{js_space}*)?(type something\\.?|other)$"};
constinit const ScreenPattern esc_cancel_pattern{"(?i)\\besc(?:ape)? to cancel\\b"};
// A box drawn under the menu, and one drawn beside its text.
constinit const ScreenPattern box_start_pattern{"^{js_space}+[│┃┌└├╭╰]"};
constinit const ScreenPattern box_beside_pattern{"^(.*?{js_nonspace}){js_space}{2,}([│┃┌└├╭╰].*)$"};

std::optional<Menu> read_terminal(std::string_view screen) {
  std::vector<std::string> rows = split_lines(screen);
  for (std::string& row : rows) row.resize(trim_row_end(row).size());

  // Boxes beside the menu go to their own rows.
  std::vector<std::string> main(rows.size());
  std::vector<BoxRow> boxes;
  for (size_t k = 0; k < rows.size(); ++k) {
    const std::string& row = rows[k];
    if (!has_box_char(row)) {
      main[k] = row;
    } else if (box_start_pattern.is_match(row)) {
      box_rows(boxes, k, row);
    } else if (std::optional<Match> m = box_beside_pattern.find(row)) {
      box_rows(boxes, k, *m->group(2));
      main[k] = std::string(trim_row_end(*m->group(1)));
    } else {
      main[k] = row;
    }
  }

  // The cursor row: the lowest marker row near the bottom.
  std::optional<size_t> cursor;
  size_t column = 0;
  std::string cursor_text;
  const size_t window = menu_window_start(rows.size());
  for (size_t k = rows.size(); k-- > window;) {
    if (!has_cursor_marker(main[k])) continue;
    if (std::optional<Match> m = cursor_row_pattern.find(main[k])) {
      cursor = k;
      cursor_text = std::string(*m->group(3));
      column = char_count(main[k]) - char_count(cursor_text);
      break;
    }
  }
  if (!cursor) return std::nullopt;

  // A prompt below the marker: the marker belongs to the transcript.
  if (std::optional<size_t> prompt = find_prompt_row(rows, false); prompt && *prompt > *cursor) {
    return std::nullopt;
  }

  // The block: neighbouring rows indented at least to the option text.
  auto in_block = [&](size_t k) {
    std::optional<size_t> start = first_nonblank_column(main[k]);
    return start && *start >= column;
  };
  size_t top = *cursor, bottom = *cursor;
  while (top > 0 && in_block(top - 1)) --top;
  while (bottom + 1 < rows.size() && in_block(bottom + 1)) ++bottom;
  size_t below = 0;
  for (size_t k = bottom + 1; k < rows.size(); ++k) below += !is_blank(main[k]);
  if (below > kMaxRowsBelow) return std::nullopt;
  if (top > 0 && is_rule_row(main[top - 1])) return std::nullopt;  // an input box

  // Options: the cursor row and the rows at the text column start one; the
  // rows between continue it.
  std::vector<OptionDraft> options;
  std::optional<size_t> selected;
  for (size_t k = top; k <= bottom; ++k) {
    const std::optional<size_t> start = first_nonblank_column(main[k]);
    if (k == *cursor) {
      selected = options.size();
      options.push_back(start_option(cursor_text, column));
    } else if (start == column) {
      options.push_back(start_option(js_trim(main[k]), column));
    } else if (!options.empty()) {
      OptionDraft& option = options.back();
      const std::string_view text = js_trim(main[k]);
      if (option.label_column && start == option.label_column) {
        option.label += ' ';
        option.label += text;
      } else if (option.detail) {
        *option.detail += ' ';
        *option.detail += text;
      } else {
        option.detail = std::string(text);
      }
    }
  }

  // The title: the rows above the block up to a rule.
  std::vector<size_t> title_rows;  // bottom-up
  for (size_t k = top; k-- > 0 && title_rows.size() < kTitleRows;) {
    if (has_heavy_rule(main[k])) break;
    if (is_dashed_row(main[k])) continue;
    title_rows.push_back(k);
  }
  while (!title_rows.empty() && is_blank(main[title_rows.back()])) title_rows.pop_back();
  while (!title_rows.empty() && is_blank(main[title_rows.front()])) {
    title_rows.erase(title_rows.begin());
  }
  size_t indent = SIZE_MAX;
  for (size_t k : title_rows) {
    if (std::optional<size_t> start = first_nonblank_column(main[k]))
      indent = std::min(indent, *start);
  }
  std::string title;
  for (size_t n = title_rows.size(); n-- > 0;) {
    if (n + 1 != title_rows.size()) title += '\n';
    title += drop_chars(main[title_rows[n]], indent);
  }

  // The question: the text of a box beside the menu.
  std::string question;
  const size_t from = top > 0 ? top - 1 : 0;
  bool first = true;
  for (const BoxRow& box : boxes) {
    if (box.index < from || box.index > bottom + kQuestionReach) continue;
    if (!first) question += '\n';
    question += box.text;
    first = false;
  }
  const size_t q_start = question.find_first_not_of('\n');
  question = q_start == std::string::npos
                 ? std::string()
                 : question.substr(q_start, question.find_last_not_of('\n') + 1 - q_start);

  std::string footer;
  for (size_t k = bottom + 1; k < rows.size(); ++k) {
    if (is_blank(main[k])) continue;
    if (!footer.empty()) footer += ' ';
    footer += main[k];
  }

  PartialMenu partial;
  partial.title = std::move(title);
  if (!title_rows.empty()) partial.title_row = title_rows.back();
  for (OptionDraft& draft : options) {
    MenuOption option;
    if (free_text_option_pattern.is_match(js_trim(draft.label))) option.kind = kFreeTextInline;
    option.label = std::move(draft.label);
    option.detail = std::move(draft.detail);
    partial.options.push_back(std::move(option));
  }
  if (!question.empty()) partial.question = std::move(question);
  partial.navigation = kNavigateArrows;
  partial.selected = selected;
  partial.first_option_row = top;
  partial.last_row = bottom;
  partial.selected_row = *cursor;
  partial.esc = esc_cancel_pattern.is_match(footer);
  return finish_menu(std::move(partial), rows);
}

}  // namespace mossbank::screen
