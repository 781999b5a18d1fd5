// Grok's screens: the folder-trust question answered by hotkeys, lettered
// radio lists, numbered lists with a "❯" cursor and a slash command's
// argument picker, tried in that order.
#include <algorithm>
#include <string>
#include <vector>

#include "screen/agent_readers.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constexpr std::string_view kTrustQuestion = "Do you trust the contents of this directory?";

// How far above the picker's box its numbered rule may lie.
constexpr size_t kRuleSearchRows = 20;

std::optional<size_t> lowest_in_window(std::span<const TrimmedRow> rows,
                                       const ScreenPattern& pattern) {
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size());) {
    if (pattern.is_match(rows[r].trimmed)) return r;
  }
  return std::nullopt;
}

// "Yes, trust this folder      y": a label, four or more blanks, a letter.
constinit const ScreenPattern hotkey_row_pattern{"^({js_nonspace}.*?){js_space}{4,}([a-z])$"};

std::optional<Menu> read_trust_hotkeys(std::span<const TrimmedRow> rows) {
  std::optional<size_t> k = lowest_in_window(rows, hotkey_row_pattern);
  if (!k || *k == 0) return std::nullopt;
  size_t t = 0;
  while (t < rows.size() && rows[t].trimmed != kTrustQuestion) ++t;
  if (t == rows.size() || t > *k - 1) return std::nullopt;

  PartialMenu partial;
  for (size_t r : {*k - 1, *k}) {
    std::optional<Match> m = hotkey_row_pattern.find(rows[r].trimmed);
    if (!m) return std::nullopt;
    MenuOption option = new_menu_option(*m->group(1));
    option.key = std::string(*m->group(2));
    partial.options.push_back(std::move(option));
  }
  std::vector<std::string> title;
  for (size_t r = t; r + 1 < *k; ++r) {
    if (!rows[r].trimmed.empty()) title.push_back(rows[r].trimmed);
  }
  partial.title = join(title, "\n");
  partial.title_row = t;
  partial.navigation = kNavigateKey;
  partial.selected = 0;
  partial.first_option_row = *k - 1;
  partial.last_row = *k;
  partial.selected_row = *k - 1;
  return finish_menu(std::move(partial), rows);
}

// A ">" or "❯" prompt row, and a numbered option under the "❯" cursor.
constinit const ScreenPattern cursor_row_pattern{"^(?:>|❯)(?:{js_space}|$)"};
constinit const ScreenPattern numbered_cursor_row_pattern{"^❯{js_space}*[0-9]+\\."};

// Some row below `last` is a ">" or "❯" prompt that is not a numbered
// option: the input box is there, so the list above is transcript.
bool has_grok_cursor_row(std::span<const TrimmedRow> rows, size_t last) {
  for (size_t r = last + 1; r < rows.size(); ++r) {
    const std::string& text = rows[r].trimmed;
    if (cursor_row_pattern.is_match(text) && !numbered_cursor_row_pattern.is_match(text))
      return true;
  }
  return false;
}

// The only row whose lead colour no other row of the list shares.
std::optional<size_t> single_equal_row(std::span<const TrimmedRow> rows, size_t first,
                                       size_t last) {
  std::vector<OptionLook> looks;
  for (size_t r = first; r <= last; ++r) {
    const StyledRow& row = rows[r].row;
    looks.push_back({false, row.lead_marked,
                     row.lead_fg ? std::optional<std::string_view>(*row.lead_fg) : std::nullopt});
  }
  return only_index(looks.size(), [&](size_t k) { return differs_in_style(looks, k); });
}

// "b (○) Yes, and always allow": letter or digit, radio glyph, label. Also
// read by read_radio_list, as is the residue mark below.
constinit const ScreenPattern radio_row_pattern{
    "^([0-9a-z]) \\(([○●◉])\\){js_space}*({js_nonspace}.*)$"};
// A lone character far to the right (a scroll mark), not part of the text.
constinit const ScreenPattern far_right_residue_pattern{"{js_space}{8,}{js_nonspace}$"};

std::optional<std::vector<MenuOption>> grok_radio_options(std::span<const TrimmedRow> rows,
                                                          size_t first, size_t last) {
  std::vector<MenuOption> options;
  for (size_t r = first; r <= last; ++r) {
    std::optional<Match> m = radio_row_pattern.find(rows[r].trimmed);
    if (!m) return std::nullopt;
    const std::string text = far_right_residue_pattern.replace_all(*m->group(3), "");
    auto [label, hint] = split_label_hint(text);
    auto [final_label, key] = key_suffix(label);
    MenuOption option;
    option.label = std::string(*m->group(1)) + ". " + final_label;
    if (!hint.empty()) option.detail = std::move(hint);
    option.key = std::move(key);
    option.kind = free_text_kind(final_label);
    options.push_back(std::move(option));
  }
  return options;
}

// The selected radio option.
constinit const ScreenPattern filled_radio_pattern{"^[0-9a-z] \\([●◉]\\)"};
// Rows that end a radio list's title, rows it skips, and a prefix it drops.
constinit const ScreenPattern radio_title_stop_pattern{"^(?:>|♦|⚠){js_space}"};
constinit const ScreenPattern title_skip_pattern{"^← →{js_space}"};
constinit const ScreenPattern title_prefix_pattern{"^›{js_space}+"};
// The hint of a list that may always approve.
constinit const ScreenPattern always_approve_pattern{"(?-u:\\bCtrl\\+o:always-approve\\b)"};

std::optional<Menu> read_radio_list(std::span<const TrimmedRow> rows) {
  std::optional<size_t> f = lowest_in_window(rows, radio_row_pattern);
  if (!f) return std::nullopt;
  size_t w = *f;
  while (w > 0 && radio_row_pattern.is_match(rows[w - 1].trimmed)) --w;
  if (w == *f || has_grok_cursor_row(rows, *f)) return std::nullopt;

  const size_t count = *f - w + 1;
  std::optional<size_t> filled = only_index(
      count, [&](size_t k) { return filled_radio_pattern.is_match(rows[w + k].trimmed); });
  std::optional<size_t> selected = filled;
  // The mark is inverse video, or a background of the row's own.
  if (!selected) {
    selected = only_index(count, [&](size_t k) { return rows[w + k].row.lead_marked; });
  }
  if (!selected && count >= 3 &&
      std::all_of(rows.begin() + static_cast<std::ptrdiff_t>(w),
                  rows.begin() + static_cast<std::ptrdiff_t>(*f + 1),
                  [](const TrimmedRow& row) { return row.row.lead_marked; })) {
    selected = single_equal_row(rows, w, *f);
  }
  if (!selected) return std::nullopt;
  std::optional<std::vector<MenuOption>> options = grok_radio_options(rows, w, *f);
  if (!options) return std::nullopt;

  FrameRules rules;
  rules.stop = [](std::string_view text) { return radio_title_stop_pattern.is_match(text); };
  rules.skip = [](std::string_view text) { return title_skip_pattern.is_match(text); };
  rules.max_blank_run = 1;
  auto [title, title_row] = frame_rows(rows, w, rules);
  title = far_right_residue_pattern.replace_all(title, "");
  title = title_prefix_pattern.replace_all(title, "");

  const std::string footer = join_row_texts(rows, *f);
  PartialMenu partial;
  partial.title = std::move(title);
  partial.title_row = title_row;
  partial.options = std::move(*options);
  partial.navigation = kNavigateArrows;
  partial.selected = selected;
  partial.first_option_row = w;
  partial.last_row = *f;
  partial.selected_row = w + *selected;
  partial.esc = has_esc_hint(footer);
  partial.highlight_selection = true;
  // The hotkey approves always only what a filled radio shows as chosen.
  partial.always_approve_hotkey = filled && always_approve_pattern.is_match(footer);
  return finish_menu(std::move(partial), rows);
}

// A row that ends a numbered list's title.
constinit const ScreenPattern numbered_title_stop_pattern{"^>{js_space}"};

std::optional<Menu> read_grok_numbered(std::span<const TrimmedRow> rows) {
  std::optional<MarkedBlock> marked = read_marked_block(rows, U"❯");
  if (!marked) return std::nullopt;
  const auto& [block, selected] = *marked;
  if (has_grok_cursor_row(rows, block.last_row)) return std::nullopt;

  FrameRules rules;
  rules.stop = [](std::string_view text) { return numbered_title_stop_pattern.is_match(text); };
  auto [title, title_row] = frame_rows(rows, block.first_row, rules);
  PartialMenu partial =
      numbered_block_menu(block, selected, std::move(title), title_row, kNavigateArrows);
  partial.esc = has_esc_hint(join_row_texts(rows, block.last_row));
  return finish_menu(std::move(partial), rows);
}

// The screen column where the row's text starts.
size_t text_column(const TrimmedRow& row) { return row.offset; }

// The row's text from screen column `column` on (the row's own text when it
// starts right of it).
std::string_view from_column(const TrimmedRow& row, size_t column) {
  return column <= row.offset ? std::string_view(row.trimmed)
                              : drop_chars(row.trimmed, column - row.offset);
}

// Two or more blanks between a label and the start of its second column.
constinit const ScreenPattern column_gap_pattern{"{js_nonspace} {2,}({js_nonspace})"};

// Label and detail columns: the detail starts where the earliest second
// column of text starts.
std::vector<MenuOption> two_column_options(std::span<const TrimmedRow> rows,
                                           const std::vector<size_t>& option_rows,
                                           size_t label_column) {
  std::optional<size_t> detail_column;
  for (size_t r : option_rows) {
    const std::string_view text = from_column(rows[r], label_column);
    if (std::optional<Match> m = column_gap_pattern.find(text)) {
      const size_t column = label_column + char_offset_of_byte(text, m->span(1)->start);
      detail_column = std::min(detail_column.value_or(column), column);
    }
  }
  std::vector<MenuOption> options;
  for (size_t r : option_rows) {
    const std::string_view text = from_column(rows[r], label_column);
    std::string_view label = text, detail;
    if (detail_column) {
      const size_t cut = byte_offset_of_char(text, *detail_column - label_column);
      label = text.substr(0, cut);
      detail = text.substr(cut);
    }
    MenuOption option = new_menu_option(js_trim(label));
    if (!js_trim(detail).empty()) option.detail = std::string(js_trim(detail));
    options.push_back(std::move(option));
  }
  return options;
}

// The picker's selected row, its box side and the rules around it.
constinit const ScreenPattern argument_row_pattern{"^❯ (/[A-Za-z0-9_:.-]+ .*)$"};
constinit const ScreenPattern box_side_pattern{"^{js_space}*│"};
constinit const ScreenPattern numbered_rule_pattern{"^─{8,}[0-9]+─?$"};
constinit const ScreenPattern plain_rule_pattern{"^─{8,}$"};

std::optional<Menu> read_argument_picker(std::span<const TrimmedRow> rows) {
  std::optional<size_t> a;
  std::optional<Match> argument;
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size()) && !a;) {
    if (!box_side_pattern.is_match(rows[r].row.text)) continue;
    argument = argument_row_pattern.find(rows[r].trimmed);
    if (argument) a = r;
  }
  if (!a || *a < 3) return std::nullopt;
  if (!starts_with(rows[*a - 1].trimmed, "╭")) return std::nullopt;
  const size_t plain_rule = *a - 2;
  if (!plain_rule_pattern.is_match(rows[plain_rule].trimmed)) return std::nullopt;

  // The numbered rule: the first of the 20 rows from the one above the
  // plain rule upwards.
  std::optional<size_t> numbered_rule;
  for (size_t r = plain_rule, looked = 0; r-- > 0 && looked < kRuleSearchRows && !numbered_rule;
       ++looked) {
    if (numbered_rule_pattern.is_match(rows[r].trimmed)) numbered_rule = r;
  }
  if (!numbered_rule) return std::nullopt;

  // The cursor row must lie in the list, between the two rules; empty rows
  // there have no text to place.
  std::optional<size_t> k;
  for (size_t r = *numbered_rule + 1; r < plain_rule && !k; ++r) {
    if (starts_with(rows[r].trimmed, "❯ ")) k = r;
  }
  if (!k) return std::nullopt;
  const size_t cursor_column = text_column(rows[*k]);
  const size_t label_column = cursor_column + 2;
  std::vector<size_t> option_rows;  // rows_sharing_keys
  std::optional<size_t> selected;
  for (size_t r = *numbered_rule + 1; r < plain_rule; ++r) {
    if (rows[r].trimmed.empty()) continue;
    if (text_column(rows[r]) < cursor_column) return std::nullopt;
    if (r == *k) selected = option_rows.size();
    if (r == *k || text_column(rows[r]) == label_column) option_rows.push_back(r);
  }
  if (option_rows.size() < 2) return std::nullopt;

  PartialMenu partial;
  partial.title = std::string(*argument->group(1));
  partial.options = two_column_options(rows, option_rows, label_column);
  partial.navigation = kNavigateArrows;
  partial.selected = selected;
  partial.first_option_row = option_rows.front();
  partial.last_row = option_rows.back();
  partial.selected_row = k;
  return finish_menu(std::move(partial), rows);
}

constexpr Layout kGrokLayouts[] = {
    {"trust hotkeys", by_rows<read_trust_hotkeys>},
    {"radio list", by_rows<read_radio_list>},
    {"numbered", by_rows<read_grok_numbered>},
    {"argument picker", by_rows<read_argument_picker>},
};

}  // namespace

constinit const MenuLayouts grok_menus{nullptr, kGrokLayouts};

}  // namespace mossbank::screen
