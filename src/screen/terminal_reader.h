// The generic terminal reader, and the row tests the terminal readers share.
//
// read_terminal reads a menu from plain screen text without knowing the
// agent: a list of options with a cursor marker ("❯", "›" or "▶") before the
// chosen one, the question above it, hints below it (an "esc to cancel"
// says Esc cancels), and possibly a box drawn on its right whose text is the
// menu's question. It is what every agent without a reader of its own gets.
//
// The row tests: a rule ("────────", eight or more), a row starting with a
// prompt or cursor marker, a shell-mode row ("! ls"), and the prompt row of an
// input box: "❯" in the first column directly under a rule.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen/menu.h"

namespace mossbank::screen {

bool is_rule_row(std::string_view row);           // ^[─━]{8,}
bool is_shell_mode_row(std::string_view row);     // ^!(?:blank|$)
bool is_prompt_marker_row(std::string_view row);  // ^[ \t]*[❯›▶]

// From the last row up to the second, the first row that is a prompt ("❯"
// then a blank or nothing; with shell_mode also a shell-mode row) with a
// rule directly above it.
std::optional<size_t> find_prompt_row(std::span<const std::string> rows, bool shell_mode);

// Whether the cursor stands right after the prompt glyph and its blank
// ("❯ ") on the prompt row, where whatever follows is a hint, not input.
bool cursor_at_prompt_start(std::string_view screen, size_t cursor_column, size_t cursor_row);

// A row of a box beside a menu: its text without side bars, and its row.
struct BoxRow {
  std::string text;
  size_t index = 0;
};
// Adds the row to `boxes` unless it is the box's top, bottom or a divider.
void box_rows(std::vector<BoxRow>& boxes, size_t index, std::string_view text);

// The generic menu reader, on plain screen text.
std::optional<Menu> read_terminal(std::string_view screen);

}  // namespace mossbank::screen
