// Antigravity's screens: numbered lists with a ">" cursor and plain lists
// whose selected row starts with "> ", both over a "↑/↓ Navigate" hint row.
// Its folder-trust question is a plain list.
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

// Up to this many options a numbered list is answered by typing the number.
constexpr size_t kMaxNumberKeys = 9;
// How far below a plain list its hint row may lie.
constexpr size_t kHintRows = 8;

// A row of box-drawing dashes; also ends titles in both list readers.
constinit const ScreenPattern rule_pattern{"^─{8,}$"};

bool is_rule(std::span<const TrimmedRow> rows, size_t r) {
  return r < rows.size() && rule_pattern.is_match(rows[r].trimmed);
}

// The ">" prompt row, and a numbered option under the ">" cursor.
constinit const ScreenPattern prompt_row_pattern{"^>(?:{js_space}|$)"};
constinit const ScreenPattern numbered_cursor_pattern{"^>{js_space}+[0-9]{1,2}[.)]{js_space}"};

// Some row after the block is a ">" prompt that is not a numbered option.
bool antigravity_cursor_row(std::span<const TrimmedRow> rows, const NumberedBlock& block) {
  for (size_t r = block.last_row + 1; r < rows.size(); ++r) {
    const std::string& text = rows[r].trimmed;
    if (prompt_row_pattern.is_match(text) && !numbered_cursor_pattern.is_match(text)) return true;
  }
  return false;
}

// The hint row under a numbered list, and the input box's completion hints
// that rule the list out.
constinit const ScreenPattern navigate_hint_pattern{"↑/↓ Navigate(?-u:\\b)"};
constinit const ScreenPattern completion_hint_pattern{
    "(?-u:\\btab Complete\\b|\\benter Submit\\b)"};
// The login question is answered by arrows, never by number.
constinit const ScreenPattern login_question_pattern{"(?i-u)\\bselect login method\\b"};
// Rows that end a numbered list's title.
constinit const ScreenPattern status_row_pattern{"^(?:[●○▸⎿]|\\?{js_space})"};
constinit const ScreenPattern title_prompt_pattern{"^>{js_space}"};

std::optional<Menu> read_numbered_list(std::span<const TrimmedRow> rows) {
  std::optional<MarkedBlock> marked = read_marked_block(rows, U">");
  if (!marked) return std::nullopt;
  const auto& [block, selected] = *marked;

  std::optional<size_t> hint;
  for (size_t r = block.last_row + 1; r <= block.last_row + 3 && r < rows.size() && !hint; ++r) {
    if (!rows[r].trimmed.empty()) hint = r;
  }
  if (!hint) return std::nullopt;
  const std::string& hint_text = rows[*hint].trimmed;
  if (!navigate_hint_pattern.is_match(hint_text) || completion_hint_pattern.is_match(hint_text)) {
    return std::nullopt;
  }
  if (antigravity_cursor_row(rows, block)) return std::nullopt;

  FrameRules rules;
  rules.stop = [](std::string_view text) {
    return rule_pattern.is_match(text) || status_row_pattern.is_match(text) ||
           title_prompt_pattern.is_match(text);
  };
  auto [title, title_row] = frame_rows(rows, block.first_row, rules);
  const NavigationKind navigation =
      login_question_pattern.is_match(title) || block.entries.size() > kMaxNumberKeys
          ? kNavigateArrows
          : kNavigateNumber;
  PartialMenu partial =
      numbered_block_menu(block, selected, std::move(title), title_row, navigation);
  partial.esc = has_esc_hint(join_row_texts(rows, block.last_row));
  return finish_menu(std::move(partial), rows);
}

// A plain list row's text as drawn: its indentation, then its text.
std::string indented(const TrimmedRow& row) { return std::string(row.offset, ' ') + row.trimmed; }

struct PlainList {
  std::span<const TrimmedRow> rows;
  size_t cursor = 0;
  // The row's text with the cursor or the indentation: the cursor row's own
  // text, the others' as drawn.
  std::string text(size_t r) const { return r == cursor ? rows[r].trimmed : indented(rows[r]); }
  std::string option_text(size_t r) const { return std::string(drop_chars(text(r), 2)); }
  bool is_trust_option(size_t r) const {
    const std::string option = option_text(r);
    return option == "No, exit" || option == "Yes, I trust this folder";
  }
};

// A plain list's selected row.
constinit const ScreenPattern list_cursor_pattern{"^> {js_nonspace}.*$"};

// The lowest "> " row that is not the input box's prompt between rules.
std::optional<size_t> cursor_row_near(std::span<const TrimmedRow> rows) {
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size());) {
    if (!list_cursor_pattern.is_match(rows[r].trimmed)) continue;
    if (r > 0 && is_rule(rows, r - 1) && is_rule(rows, r + 1)) continue;
    return r;
  }
  return std::nullopt;
}

// The input box's prompt row.
constinit const ScreenPattern box_prompt_pattern{"^[>❯](?:{js_space}|$)"};

// A row after `from` that is a prompt directly under a rule: the input box.
bool next_row_matching(std::span<const TrimmedRow> rows, size_t from) {
  for (size_t r = from + 1; r < rows.size(); ++r) {
    if (box_prompt_pattern.is_match(rows[r].trimmed) && is_rule(rows, r - 1)) return true;
  }
  return false;
}

std::vector<MenuOption> antigravity_options(const PlainList& list, size_t first, size_t last) {
  std::vector<MenuOption> options;
  for (size_t r = first; r <= last; ++r) options.push_back(hinted_option(list.option_text(r)));
  return options;
}

// A plain list's other rows, as drawn.
constinit const ScreenPattern list_row_pattern{"^  {js_nonspace}.*$"};
// Hints under a plain list: the trust question's, the input box's
// completion, and a way out by esc.
constinit const ScreenPattern confirm_hint_pattern{"(?-u:\\benter Confirm\\b)"};
constinit const ScreenPattern tab_complete_pattern{"(?-u:\\btab Complete\\b)"};
constinit const ScreenPattern esc_word_pattern{"(?i-u)\\besc\\b"};
// The search row a title skips.
constinit const ScreenPattern search_row_pattern{"^Search:{js_space}*$"};

std::optional<Menu> read_plain_list(std::span<const TrimmedRow> rows) {
  std::optional<size_t> cursor = cursor_row_near(rows);
  if (!cursor) return std::nullopt;
  const PlainList list{rows, *cursor};
  size_t first = *cursor, last = *cursor;
  while (first > 0 && list_row_pattern.is_match(indented(rows[first - 1]))) --first;
  while (last + 1 < rows.size() && list_row_pattern.is_match(indented(rows[last + 1]))) ++last;

  std::optional<size_t> hint;
  for (size_t r = last + 1; r <= last + kHintRows && r < rows.size() && !hint; ++r) {
    if (rows[r].trimmed.find("↑/↓ Navigate") != std::string::npos) hint = r;
  }
  if (!hint) return std::nullopt;
  const std::string& hint_text = rows[*hint].trimmed;

  // The trust question offers only its two answers, whatever else is
  // indented around them.
  if (confirm_hint_pattern.is_match(hint_text) && list.is_trust_option(*cursor)) {
    while (first < *cursor && !list.is_trust_option(first)) ++first;
    while (last > *cursor && !list.is_trust_option(last)) --last;
  }
  if (first == last) return std::nullopt;
  if (starts_with(drop_chars(list.text(first), 2), "/")) return std::nullopt;  // slash commands
  if (tab_complete_pattern.is_match(hint_text) || next_row_matching(rows, last))
    return std::nullopt;

  FrameRules rules;
  rules.stop = [](std::string_view text) { return rule_pattern.is_match(text); };
  rules.skip = [](std::string_view text) { return search_row_pattern.is_match(text); };
  auto [title, title_row] = frame_rows(rows, first, rules);
  PartialMenu partial;
  partial.title = std::move(title);
  partial.title_row = title_row;
  partial.options = antigravity_options(list, first, last);
  partial.navigation = kNavigateArrows;
  partial.selected = *cursor - first;
  partial.first_option_row = first;
  partial.last_row = last;
  partial.selected_row = *cursor;
  partial.esc = esc_word_pattern.is_match(hint_text);
  return read_claude_trust(finish_menu(std::move(partial), rows));
}

// Blank rows at the bottom are no part of a menu; a blank screen has none.
bool without_blank_bottom(std::vector<TrimmedRow>& rows) {
  while (!rows.empty() && rows.back().trimmed.empty()) rows.pop_back();
  return !rows.empty();
}

constexpr Layout kAntigravityLayouts[] = {
    {"numbered", by_rows<read_numbered_list>},
    {"plain list", by_rows<read_plain_list>},
};

}  // namespace

constinit const MenuLayouts antigravity_menus{without_blank_bottom, kAntigravityLayouts};

}  // namespace mossbank::screen
