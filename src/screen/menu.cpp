#include "screen/menu.h"

#include <algorithm>
#include <charconv>

#include "base/text.h"
#include "base/utf8.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constinit const ScreenPattern numbered_option_pattern{
    "^(?:({js_nonspace}){js_space}+)?([0-9]{1,2})[.)]{js_space}+({js_nonspace}.*)$"};
constinit const ScreenPattern label_hint_pattern{
    "^(.*?{js_nonspace}){js_space}{2,}({js_nonspace}.*)$"};
constinit const ScreenPattern key_suffix_pattern{
    "^(.*{js_nonspace}){js_space}*\\((y|n|a|d|esc|Esc)\\)$"};
constinit const ScreenPattern inline_choice_pattern{
    "^([0-9]{1,2}[.)]{js_space}*)?(type something\\.?|other|type your (own )?answer( here)?\\.?)$"};
constinit const ScreenPattern after_choice_pattern{
    "tell [0-9A-Za-z_]+ what to do|suggest changes|what to do (differently|instead)"};
constinit const ScreenPattern esc_hint_pattern{
    "(?-u:\\b)[Ee][Ss][Cc](?:[Aa][Pp][Ee])?(?-u:\\b)(?:{js_space}*:?{js_space}*"
    "[Ss][Cc][Rr][Oo][Ll][Ll][Bb][Aa][Cc][Kk])?"};

constexpr size_t kMaxGap = 3;      // rows between two options of a block
constexpr size_t kFrameRows = 12;  // rows collected above a menu

// A row of only box drawing, dashes and blanks, written out by hand (it is
// tested on every row above a menu):
//   ^(?:{js_space}|[\-─━═╌┄┈╭╮╰╯┌┐└┘├┤┬┴┼╔╗╚╝▀▄╹])+$
bool is_frame_row(std::string_view row) {
  static constexpr std::u32string_view frame = U"-─━═╌┄┈╭╮╰╯┌┐└┘├┤┬┴┼╔╗╚╝▀▄╹";
  return !row.empty() && all_chars(row, [](char32_t c) {
    return is_js_space(c) || frame.find(c) != std::u32string_view::npos;
  });
}

// Whether a numbered option's number can start where the pattern wants it:
// at the start, or after one character and blanks.
bool may_be_numbered(std::string_view row) {
  auto digit = [](std::string_view t) { return !t.empty() && t[0] >= '0' && t[0] <= '9'; };
  if (digit(row)) return true;
  if (row.empty()) return false;
  size_t pos = 0;
  next_char(row, pos);
  const auto [bytes, blanks] = leading_run(row.substr(pos), is_js_space);
  return blanks > 0 && digit(row.substr(pos + bytes));
}

std::string to_utf8(char32_t c) {
  std::string out;
  if (c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) append_utf8(out, c);
  return out;
}

}  // namespace

MenuOption new_menu_option(std::string_view label, std::optional<char32_t> key) {
  MenuOption option;
  option.label = std::string(label);
  if (key) option.key = to_utf8(*key);
  return option;
}

void menu_text(Menu& menu) {
  std::string text = menu.title;
  for (const MenuOption& option : menu.options) {
    text += '\n';
    text += trim_trailing_dots(option.label);
  }
  menu.text = std::move(text);
}

// Padded rows end in many blanks, so those are tested first, byte by byte.
size_t side_bar_length(std::string_view text, bool at_start) {
  if (text.empty()) return 0;
  const char edge = at_start ? text.front() : text.back();
  if (edge == ' ' || edge == '\t') return 1;
  if (text.size() < 3) return 0;
  const std::string_view three = at_start ? text.substr(0, 3) : text.substr(text.size() - 3);
  return three == "│" || three == "┃" || three == "║" ? 3 : 0;
}

std::vector<TrimmedRow> trim_side_bars(std::string_view styled) {
  std::vector<StyledRow> styled_rows = read_styled_rows(styled);
  std::vector<TrimmedRow> rows;
  rows.reserve(styled_rows.size());
  for (size_t k = 0; k < styled_rows.size(); ++k) {
    TrimmedRow& out = rows.emplace_back();
    out.row = std::move(styled_rows[k]);
    out.index = k;
    const std::string_view text = out.row.text;
    size_t start = 0, lead_chars = 0;
    for (size_t n; (n = side_bar_length(text.substr(start), true)) != 0; start += n) ++lead_chars;
    size_t end = text.size();
    while (end > start) {
      // The blanks a padded row ends in go at once, then a bar if any.
      const size_t kept = text.substr(start, end - start).find_last_not_of(" \t");
      end = kept == std::string_view::npos ? start : start + kept + 1;
      const size_t n = end > start ? side_bar_length(text.substr(start, end - start), false) : 0;
      if (n == 0) break;
      end -= n;
    }
    out.trimmed = std::string(text.substr(start, end - start));
    out.offset = out.trimmed.empty() ? char_count(text) : lead_chars;
  }
  return rows;
}

std::optional<NumberedOption> numbered_option(std::string_view row, std::u32string_view markers) {
  if (!may_be_numbered(row)) return std::nullopt;
  std::optional<Match> m = numbered_option_pattern.find(row);
  if (!m) return std::nullopt;
  NumberedOption option;
  if (std::optional<std::string_view> marker = m->group(1)) {
    size_t pos = 0;
    const char32_t c = next_char(*marker, pos);
    if (markers.find(c) == std::u32string_view::npos) return std::nullopt;
    option.marker = c;
  }
  const std::string_view number = *m->group(2);
  std::from_chars(number.data(), number.data() + number.size(), option.number);
  option.label = std::string(*m->group(3));
  option.column = option.marker ? find_in_text(row, number) : 0;
  return option;
}

std::pair<std::string, std::string> split_label_hint(std::string_view text) {
  if (std::optional<Match> m = label_hint_pattern.find(text)) {
    return {std::string(*m->group(1)), std::string(*m->group(2))};
  }
  return {std::string(js_trim(text)), std::string()};
}

MenuOption hinted_option(std::string_view text) {
  auto [label, hint] = split_label_hint(text);
  MenuOption option = new_menu_option(label);
  if (!hint.empty()) option.detail = std::move(hint);
  return option;
}

std::pair<std::string, std::optional<std::string>> key_suffix(std::string_view text) {
  text = js_trim(text);
  if (std::optional<Match> m = key_suffix_pattern.find(text)) {
    return {std::string(*m->group(1)), ascii_lower(*m->group(2))};
  }
  return {std::string(text), std::nullopt};
}

std::optional<std::string_view> free_text_kind(std::string_view label) {
  const std::string lower = ascii_lower(label);
  if (inline_choice_pattern.is_match(lower)) return kFreeTextInline;
  if (after_choice_pattern.is_match(lower)) return kFreeTextAfter;
  return std::nullopt;
}

bool has_esc_hint(std::string_view text) {
  for (const Match& m : esc_hint_pattern.find_all(text)) {
    const std::string lower = ascii_lower(m.str());
    if (lower.size() >= 10 && lower.compare(lower.size() - 10, 10, "scrollback") == 0) continue;
    return true;
  }
  return false;
}

std::string join_row_texts(std::span<const TrimmedRow> rows, std::optional<size_t> after,
                           std::optional<size_t> end) {
  std::vector<std::string> parts;
  const size_t stop = std::min(end.value_or(rows.size()), rows.size());
  for (size_t k = after ? *after + 1 : 0; k < stop && parts.size() < 3; ++k) {
    if (!rows[k].trimmed.empty()) parts.push_back(rows[k].trimmed);
  }
  return join(parts, " · ");
}

size_t find_in_text(std::string_view text, std::string_view part) {
  const size_t at = text.find(part);
  return char_offset_of_byte(text, at == std::string_view::npos ? text.size() : at);
}

std::string_view selection_by_name(SelectionBy by) {
  switch (by) {
    case SelectionBy::marker:
      return "marker";
    case SelectionBy::highlight:
      return "highlight";
    case SelectionBy::colour:
      return "colour";
  }
  return "";
}

bool differs_in_style(std::span<const OptionLook> looks, size_t index) {
  size_t same = 0;
  for (const OptionLook& look : looks) same += look.lead_fg == looks[index].lead_fg;
  return same == 1;
}

std::optional<SelectedOption> selected_option_index(std::span<const OptionLook> looks) {
  for (size_t k = looks.size(); k-- > 0;) {
    if (looks[k].has_marker) return SelectedOption{k, SelectionBy::marker};
  }
  if (auto k = only_index(looks.size(), [&](size_t i) { return looks[i].lead_marked; })) {
    return SelectedOption{*k, SelectionBy::highlight};
  }
  if (looks.size() > 2) {
    if (auto k = only_index(looks.size(), [&](size_t i) { return differs_in_style(looks, i); })) {
      return SelectedOption{*k, SelectionBy::colour};
    }
  }
  return std::nullopt;
}

std::pair<std::string, size_t> frame_rows(std::span<const TrimmedRow> rows, size_t first_option_row,
                                          const FrameRules& rules) {
  // Collected bottom-up.
  std::vector<size_t> kept;
  size_t blank_run = 0;
  for (size_t r = std::min(first_option_row, rows.size()); r-- > 0 && kept.size() < kFrameRows;) {
    const TrimmedRow& row = rows[r];
    if (is_frame_row(row.trimmed) || is_frame_row(row.row.text)) break;
    if (rules.stop && rules.stop(row.trimmed)) break;
    if (rules.skip && rules.skip(row.trimmed)) continue;
    kept.push_back(r);
    if (!row.trimmed.empty()) {
      blank_run = 0;
    } else if (rules.max_blank_run && ++blank_run >= *rules.max_blank_run) {
      break;
    }
  }
  while (!kept.empty() && rows[kept.back()].trimmed.empty()) kept.pop_back();
  while (!kept.empty() && rows[kept.front()].trimmed.empty()) kept.erase(kept.begin());
  if (kept.empty()) return {std::string(), first_option_row};
  size_t indent = SIZE_MAX;
  for (size_t r : kept) {
    if (!rows[r].trimmed.empty()) indent = std::min(indent, rows[r].offset);
  }
  std::string text;
  for (size_t k = kept.size(); k-- > 0;) {
    const TrimmedRow& row = rows[kept[k]];
    if (k + 1 != kept.size()) text += '\n';
    if (row.offset > indent) text.append(row.offset - indent, ' ');
    text += row.trimmed;
  }
  return {std::move(text), kept.back()};
}

MenuOption NumberedBlock::menu_option(size_t k) const {
  const Entry& entry = entries[k];
  auto [label, hint] = split_label_hint(entry.option.label);
  auto [final_label, key] = key_suffix(label);
  MenuOption option;
  option.label = std::to_string(entry.option.number) + ". " + final_label;
  // Rows keep the no-break spaces some agents pad with: each part is trimmed
  // the JavaScript way before the parts are joined.
  std::vector<std::string> detail;
  auto add_part = [&](std::string_view part) {
    part = js_trim(part);
    if (!part.empty()) detail.emplace_back(part);
  };
  add_part(hint);
  for (const std::string& row : entry.continuation) add_part(row);
  if (!detail.empty()) option.detail = join(detail, " ");
  option.key = std::move(key);
  option.kind = free_text_kind(final_label);
  return option;
}

std::vector<MenuOption> NumberedBlock::menu_options() const {
  std::vector<MenuOption> options;
  for (size_t k = 0; k < entries.size(); ++k) options.push_back(menu_option(k));
  return options;
}

std::optional<NumberedBlock> read_numbered_block(std::span<const TrimmedRow> rows,
                                                 std::u32string_view markers) {
  const size_t window = menu_window_start(rows.size());
  for (size_t start = rows.size(); start-- > window;) {
    std::optional<NumberedOption> lowest = numbered_option(rows[start].trimmed, markers);
    if (!lowest || lowest->number == 0) continue;
    const size_t column = lowest->column + rows[start].offset;
    uint64_t expected = lowest->number - 1;
    std::vector<NumberedBlock::Entry> entries;  // bottom-up
    entries.push_back({std::move(*lowest), start, {}});
    bool complete = expected == 0;
    size_t gap = 0;
    for (size_t r = start; !complete && r > window;) {
      --r;
      std::optional<NumberedOption> o = numbered_option(rows[r].trimmed, markers);
      if (o && o->number == expected && o->column + rows[r].offset == column) {
        entries.push_back({std::move(*o), r, {}});
        gap = 0;
        complete = --expected == 0;
      } else if (rows[r].trimmed == "↑") {
        complete = true;  // a scrolled list: its first options are hidden
      } else if (++gap > kMaxGap) {
        break;
      }
    }
    if (!complete) continue;

    NumberedBlock block;
    block.entries.assign(entries.rbegin(), entries.rend());
    block.first_row = block.entries.front().row;
    block.last_row = block.entries.back().row;
    auto continues = [&](size_t r) { return !rows[r].trimmed.empty() && rows[r].offset > column; };
    for (size_t k = 0; k < block.entries.size(); ++k) {
      NumberedBlock::Entry& entry = block.entries[k];
      const size_t end = k + 1 < block.entries.size()
                             ? block.entries[k + 1].row
                             : std::min(entry.row + 1 + kMaxGap, rows.size());
      for (size_t r = entry.row + 1; r < end; ++r) {
        if (!continues(r)) continue;
        entry.continuation.push_back(rows[r].trimmed);
        if (k + 1 == block.entries.size()) block.last_row = r;
      }
    }
    return block;
  }
  return std::nullopt;
}

std::vector<OptionLook> block_looks(const NumberedBlock& block, std::span<const TrimmedRow> rows) {
  std::vector<OptionLook> looks;
  for (const NumberedBlock::Entry& entry : block.entries) {
    const StyledRow& row = rows[entry.row].row;
    looks.push_back(
        OptionLook{entry.option.marker.has_value(), row.lead_marked,
                   row.lead_fg ? std::optional<std::string_view>(*row.lead_fg) : std::nullopt});
  }
  return looks;
}

std::optional<SelectedOption> selected_option_index(const NumberedBlock& block,
                                                    std::span<const TrimmedRow> rows) {
  return selected_option_index(block_looks(block, rows));
}

std::optional<MarkedBlock> read_marked_block(std::span<const TrimmedRow> rows,
                                             std::u32string_view markers) {
  std::optional<NumberedBlock> block = read_numbered_block(rows, markers);
  if (!block) return std::nullopt;
  std::optional<SelectedOption> selected = selected_option_index(*block, rows);
  if (!selected || selected->by != SelectionBy::marker) return std::nullopt;
  return MarkedBlock{std::move(*block), selected->index};
}

PartialMenu numbered_block_menu(const NumberedBlock& block, std::optional<size_t> selected,
                                std::string title, std::optional<size_t> title_row,
                                NavigationKind navigation) {
  PartialMenu partial;
  partial.title = std::move(title);
  partial.title_row = title_row;
  partial.options = block.menu_options();
  partial.navigation = navigation;
  partial.first_option_row = block.first_row;
  partial.last_row = block.last_row;
  if (selected && *selected < block.entries.size()) {
    partial.selected = selected;
    partial.selected_row = block.entries[*selected].row;
  }
  return partial;
}

Menu finish_menu(PartialMenu partial, std::span<const std::string> rows) {
  Menu menu;
  menu.title = std::move(partial.title);
  menu.options = std::move(partial.options);
  if (partial.question && !partial.question->empty()) menu.question = std::move(partial.question);
  menu.navigation = partial.navigation;
  menu.selected = partial.selected;
  menu.cancel = partial.esc ? kCancelByEsc : kNoCancel;
  const size_t first = !menu.title.empty() && partial.title_row
                           ? std::min(*partial.title_row, partial.first_option_row)
                           : partial.first_option_row;
  for (size_t r = first; r <= partial.last_row && r < rows.size(); ++r)
    menu.rows.push_back(rows[r]);
  if (partial.selected_row && *partial.selected_row >= first) {
    menu.selected_row = *partial.selected_row - first;
  }
  menu.highlight_selection = partial.highlight_selection;
  menu.always_approve_hotkey = partial.highlight_selection && partial.always_approve_hotkey;
  menu_text(menu);
  return menu;
}

Menu finish_menu(PartialMenu partial, std::span<const TrimmedRow> rows) {
  std::vector<std::string> texts;
  const size_t end = std::min(partial.last_row + 1, rows.size());
  texts.reserve(end);
  for (size_t r = 0; r < end; ++r) texts.push_back(rows[r].row.text);
  return finish_menu(std::move(partial), texts);
}

}  // namespace mossbank::screen
