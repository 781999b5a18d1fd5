// What is typed at Claude Code's prompt, whether its input is in shell mode,
// and whether its prompt-history search popup is open.
//
// Claude Code draws its input as a "❯" row between two rules; a hint it
// shows there but nobody typed is drawn faint (SGR 2) or grey (90). The
// command line is read from the styled (or marked) screen text, cell by
// cell, leaving the faint and grey cells out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mossbank::screen {

struct CommandCell {
  uint32_t codepoint = 0;
  bool placeholder = false;  // faint or grey: a hint, not input
  bool inverse = false;      // the cursor block
};

// The terminal cursor: column and screen row.
struct ScreenCursor {
  size_t column = 0;
  size_t row = 0;
};

// Whether a character takes two columns (the East Asian wide ranges).
bool is_wide_char(char32_t c);

// The cells of styled row `row`. With cut_at_cursor on the cursor's row,
// only the cells left of the cursor column.
std::vector<CommandCell> styled_row_cells(std::span<const std::string> rows, size_t row,
                                          std::optional<ScreenCursor> cursor, bool cut_at_cursor);

// The characters of the cells that are not placeholders.
std::string cells_to_string(std::span<const CommandCell> cells);

// The text typed at the prompt; "" when nothing is typed or no prompt shows.
std::string read_command(std::string_view styled_screen, bool shell_mode,
                         std::optional<ScreenCursor> cursor, bool cut_at_cursor);

// The input row is in shell mode ("!" instead of "❯").
bool is_shell_mode_prompt(std::string_view screen);

// The "Search prompts" popup is open.
bool is_prompt_search(std::string_view screen);

}  // namespace mossbank::screen
