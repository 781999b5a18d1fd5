#include "screen/command_line.h"

#include "base/code_ranges.h"
#include "base/text.h"
#include "base/utf8.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/slash_popups.h"
#include "screen/styled_rows.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constinit const ScreenPattern prompt_search_title_pattern{
    "^{js_space}{0,4}Search prompts(?:{js_space}·|$)"};
constexpr std::string_view kPromptSearchFooter = "Enter to use · Esc to cancel";

// East Asian Wide and Fullwidth, folded into ranges.
constexpr CodeRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202}, {0x1F210, 0x1F23B},
    {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F320},
    {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E},
    {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4},
    {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
    {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945},
    {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

static_assert(sorted_and_apart(kWide), "the wide ranges must be sorted and apart");

}  // namespace

bool is_wide_char(char32_t c) {
  if (c < 0x1100) return false;
  return in_code_ranges(kWide, c);
}

std::vector<CommandCell> styled_row_cells(std::span<const std::string> rows, size_t row,
                                          std::optional<ScreenCursor> cursor, bool cut_at_cursor) {
  std::vector<CommandCell> cells;
  if (row >= rows.size()) return cells;
  const std::string_view text = rows[row];
  HintLook look;
  std::vector<std::string_view> tokens;
  auto add_text = [&](std::string_view piece) {
    for (size_t pos = 0; pos < piece.size();) {
      const char32_t c = next_char(piece, pos);
      cells.push_back(CommandCell{static_cast<uint32_t>(c), look.faint || look.grey, look.inverse});
    }
  };
  for_each_csi(text, add_text, [&](std::string_view csi) {
    if (csi.back() == 'm')
      apply_hint_look(look, csi.substr(2, csi.size() - 3), std::nullopt, tokens);
  });

  if (cut_at_cursor && cursor && cursor->row == row) {
    size_t width = 0, keep = 0;
    while (keep < cells.size() && width < cursor->column) {
      width += is_wide_char(cells[keep].codepoint) ? 2 : 1;
      ++keep;
    }
    cells.resize(keep);
  }
  return cells;
}

std::string cells_to_string(std::span<const CommandCell> cells) {
  std::string out;
  for (const CommandCell& cell : cells) {
    if (cell.placeholder) continue;
    if (cell.codepoint <= 0x10FFFF && !(cell.codepoint >= 0xD800 && cell.codepoint <= 0xDFFF)) {
      append_utf8(out, cell.codepoint);
    }
  }
  return out;
}

std::string read_command(std::string_view styled_screen, const CommandRead& how) {
  const std::optional<ScreenCursor>& cursor = how.cursor;
  const bool cut_at_cursor = how.cut_at_cursor;
  const std::vector<std::string> plain = screen_text_rows(styled_screen);
  const std::vector<std::string> styled = split_lines(styled_screen);
  std::optional<size_t> prompt = find_prompt_row(plain, how.shell_mode);
  if (!prompt) return std::string();
  const bool glyph = starts_with(plain[*prompt], "❯");
  if (cursor && glyph && cursor_at_prompt_start(styled_screen, cursor->column, cursor->row)) {
    return std::string();  // whatever follows the glyph is a hint
  }

  std::vector<CommandCell> cells = styled_row_cells(styled, *prompt, cursor, cut_at_cursor);
  if (!cells.empty() && cells[0].codepoint == U'❯') {
    size_t drop = 1;
    if (cells.size() > 1 && is_js_space(cells[1].codepoint)) drop = 2;
    cells.erase(cells.begin(), cells.begin() + static_cast<ptrdiff_t>(drop));
    if (!cells.empty() &&
        (cells[0].placeholder || (cells[0].inverse && cells.size() > 1 && cells[1].placeholder))) {
      return std::string();
    }
  }
  std::vector<std::string> lines = {cells_to_string(cells)};
  for (size_t r = *prompt + 1; r < plain.size() && !is_rule_row(plain[r]); ++r) {
    std::string line = cells_to_string(styled_row_cells(styled, r, cursor, cut_at_cursor));
    if (starts_with(line, "  ")) {
      line.erase(0, 2);
    } else if (starts_with(line, " ")) {
      line.erase(0, 1);
    }
    lines.push_back(std::move(line));
  }
  return std::string(js_trim(join(lines, "\n")));
}

bool is_shell_mode_prompt(std::string_view screen) {
  const std::vector<std::string> rows = screen_text_rows(screen);
  for (size_t k = rows.size(); k-- > 1;) {
    if (is_prompt_marker_row(rows[k])) return false;
    if (!is_shell_mode_row(rows[k]) || !is_rule_row(rows[k - 1])) continue;
    for (size_t below = k + 1; below < rows.size(); ++below) {
      if (is_rule_row(rows[below])) return true;
    }
  }
  return false;
}

bool is_prompt_search(std::string_view screen) {
  const std::vector<std::string> rows = screen_text_rows(screen);
  bool title = false, footer = false;
  for (const std::string& row : rows) {
    title = title || (row.find("Search prompts") != std::string::npos &&
                      prompt_search_title_pattern.is_match(row));
    footer = footer || row.find(kPromptSearchFooter) != std::string::npos;
  }
  return title && footer;
}

bool is_shell_text(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    if (!is_unicode_space(next_code_point(text, next))) break;
    pos = next;
  }
  return text.substr(pos).starts_with('!');
}

std::string strip_white_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    if (!is_unicode_space(next_code_point(text, pos))) out.append(text.substr(start, pos - start));
  }
  return out;
}

bool text_in_command_line(std::string_view draft, std::string_view screen) {
  const std::string command = strip_white_space(read_command(screen));
  if (command.empty()) return false;
  for (const std::string& line : split_lines(draft)) {
    const std::string squashed = strip_white_space(line);
    if (!squashed.empty() && command.find(squashed) != std::string::npos) return true;
  }
  return false;
}

size_t claude_box_rows(std::string_view screen) {
  const std::vector<std::string> rows = screen_text_rows(screen);
  const std::optional<size_t> prompt = find_prompt_row(rows, false);
  if (!prompt) return 0;
  for (size_t k = *prompt + 1; k < rows.size(); ++k)
    if (is_rule_row(rows[k])) return k - *prompt;
  return 1;
}

bool command_line_shows(std::string_view screen, const CommandRead& how, std::string_view text) {
  const std::string command = strip_white_space(read_command(screen, how));
  return command == strip_white_space(text) || pasted_marker_pattern.is_match(command);
}

bool text_left_behind(std::string_view screen, std::string_view text, std::string_view command) {
  const std::string ending = " " + std::string(command);
  for (const std::string& row : split_lines(screen)) {
    const std::string_view trimmed = trim_end_js(row);
    if (trimmed.ends_with(ending) || js_trim(row) == text) return true;
  }
  return false;
}

}  // namespace mossbank::screen
