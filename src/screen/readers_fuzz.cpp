// Fuzzes every screen reader with every agent name: no crash, no hang, and
// the shapes the readers promise (a selection inside the options, rows
// inside the screen, runs that tile a row). read_menu takes every agent's
// branch; each layout's menu is the one read_menu gives.
//
// Input: one byte of flags (shell mode, cut at the cursor), two bytes of
// cursor (column, row), then the screen text. The readers get the text as
// it is and, for the checks that need whole characters, as valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/command_line.h"
#include "screen/input_boxes.h"
#include "screen/input_pane.h"
#include "screen/menu.h"
#include "screen/row_text.h"
#include "screen/styled_rows.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace {

using namespace mossbank::screen;

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view kAgents[] = {"claude",   "codex",       "grok",    "opencode", "kilo",
                                        "kilocode", "antigravity", "copilot", "cursor",   "Claude",
                                        ""};

bool never(std::optional<AgentName>, std::string_view) { return false; }
bool always(std::optional<AgentName>, std::string_view) { return true; }

void check_menu(const Menu& menu) {
  check(!menu.options.empty());
  if (menu.selected) check(*menu.selected < menu.options.size());
  if (menu.selected_row) check(*menu.selected_row < menu.rows.size());
  check(menu.text.compare(0, menu.title.size(), menu.title) == 0);
  check(menu.cancel == kCancelByEsc || menu.cancel == kNoCancel);
  check(!menu.always_approve_hotkey || menu.highlight_selection);
  if (menu.question) check(!menu.question->empty());
}

void fuzz_rows(std::string_view styled) {
  for (const StyledRow& row : read_styled_rows(styled)) {
    size_t at = 0;
    for (const StyledRun& run : row.runs) {
      check(run.start == at && run.end > run.start);
      at = run.end;
    }
    check(at == char_count(row.text));
  }
  const std::vector<TrimmedRow> rows = trim_side_bars(styled);
  for (size_t k = 0; k < rows.size(); ++k) {
    check(rows[k].index == k);
    check(rows[k].row.text.find(rows[k].trimmed) != std::string::npos);
  }
  for (std::u32string_view markers : {std::u32string_view(U"❯›"), std::u32string_view(U">")}) {
    std::optional<NumberedBlock> block = read_numbered_block(rows, markers);
    if (!block) continue;
    check(block->first_row <= block->last_row && block->last_row < rows.size());
    for (size_t k = 1; k < block->entries.size(); ++k) {
      check(block->entries[k].option.number == block->entries[k - 1].option.number + 1);
      check(block->entries[k].row > block->entries[k - 1].row);
    }
    std::optional<SelectedOption> selected = selected_option_index(*block, rows);
    if (selected) check(selected->index < block->entries.size());
    FrameRules rules;
    rules.max_blank_run = 2;
    auto [title, top] = frame_rows(rows, block->first_row, rules);
    check(top <= block->first_row);
    PartialMenu partial = numbered_block_menu(
        *block, selected ? std::optional<size_t>(selected->index) : std::nullopt, title, top,
        kNavigateNumber);
    partial.esc = has_esc_hint(join_row_texts(rows, block->last_row));
    check_menu(finish_menu(std::move(partial), rows));
  }
}

void fuzz_menus(std::string_view screen) {
  const size_t rows = split_lines(screen).size();
  for (std::string_view name : kAgents) {
    const std::optional<AgentName> agent = name.empty() ? std::nullopt : std::optional(name);
    std::optional<Menu> menu = read_menu(agent, screen);
    if (menu) {
      check_menu(*menu);
      check(menu->rows.size() <= rows);
    }
    const bool own_reader = name == "codex" || name == "grok" || name == "opencode" ||
                            name == "kilo" || name == "antigravity";
    if (own_reader) {
      std::optional<LayoutMenu> layout = read_agent_layouts(name, screen);
      check(layout.has_value() == menu.has_value());
      if (layout) check(!layout->layout.empty() && layout->menu == *menu);
    }
    if (name == "codex" && is_agent_command_center(agent, screen)) {
      check(menu->title == "Agent command center" && menu->options.size() == 1 &&
            menu->navigation == kNavigateKey);
    }
  }
  // The dialog reader and the column cuts it reads from.
  if (std::optional<Menu> menu = read_opencode_menu(screen, trim_side_bars(screen)))
    check_menu(*menu);
  for (size_t from : {size_t{0}, size_t{3}, size_t{40}}) {
    const std::string cut = opencode_rows(screen, from, from + 30);
    check(split_lines(cut).size() == rows);
    for (const std::string& row : split_lines(strip_escapes(cut))) check(char_count(row) <= 30);
  }
}

void fuzz_readers(std::string_view screen, bool shell, bool cut, ScreenCursor cursor) {
  fuzz_menus(screen);
  if (std::optional<Menu> menu = read_terminal(screen)) check_menu(*menu);
  read_input_pane(screen, shell);
  input_shows_text(screen, "hello world", shell);
  input_shows_text(screen, "look\n/a/b.png", shell);
  pane_is_busy(screen);
  read_command(screen, {.shell_mode = shell, .cursor = cursor, .cut_at_cursor = cut});
  read_command(screen, {.shell_mode = shell});
  is_shell_mode_prompt(screen);
  is_prompt_search(screen);
  cursor_at_prompt_start(screen, cursor.column, cursor.row);
  has_claude_prompt_box(screen, shell);
  for (std::string_view name : kAgents) {
    const std::optional<AgentName> agent = name.empty() ? std::nullopt : std::optional(name);
    const bool with_box = has_input_box(agent, screen, shell, never);
    if (!with_box) check(!has_input_box(agent, screen, shell, always));
    const bool empty = input_box_is_empty(agent, screen);
    if (empty && name == "claude") check(has_claude_prompt_box(screen, false));
    read_side_box(agent, screen);
    if (std::optional<InputBox> box = read_ruled_box(agent, screen)) {
      check(box->prompt_row <= box->last_row + 1);
    }
    ruled_box_input_empty(agent, screen);
    if (std::optional<InputBox> box = read_bare_box(name, screen)) {
      check(box->prompt_row <= box->last_row);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool shell = data[0] & 1;
  const bool cut = data[0] & 2;
  const ScreenCursor cursor{data[1], data[2]};
  const std::string_view raw(reinterpret_cast<const char*>(data + 3), size - 3);
  fuzz_readers(raw, shell, cut, cursor);
  const std::string text = mossbank::utf8_lossy(raw);
  fuzz_rows(text);
  if (text != raw) fuzz_readers(text, shell, cut, cursor);
  return 0;
}
