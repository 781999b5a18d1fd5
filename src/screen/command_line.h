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

struct CommandRead {
  bool shell_mode = false;             // the prompt row starts with "!"
  std::optional<ScreenCursor> cursor;  // a "❯" row with the cursor right after it is empty
  bool cut_at_cursor = false;          // the cursor's row only up to the cursor column
};

// The text typed at the prompt; "" when nothing is typed or no prompt shows.
std::string read_command(std::string_view styled_screen, const CommandRead& how = {});

// The input row is in shell mode ("!" instead of "❯").
bool is_shell_mode_prompt(std::string_view screen);

// The "Search prompts" popup is open.
bool is_prompt_search(std::string_view screen);

// A text for Claude Code's shell mode: "!" after any leading white space.
bool is_shell_text(std::string_view text);

// The text without ASCII 9-13, the space and Unicode white space.
std::string strip_white_space(std::string_view text);

// A line of the draft, white space removed, shows in the command line that
// Claude Code's box holds on the (marked) screen.
bool text_in_command_line(std::string_view draft, std::string_view screen);

// The rows a Claude Code box's text takes on the screen: from the prompt
// row down to the rule under it (1 when no rule follows); 0 without a box.
size_t claude_box_rows(std::string_view screen);

// Whether the command line shows exactly the text, white space aside, or
// the marker of a collapsed paste (the box itself is the caller's to check).
bool command_line_shows(std::string_view screen, const CommandRead& how, std::string_view text);

// Whether the text, taken back, still shows in a row of the screen: a row
// ending in " " + command, or one that is the text, trimmed.
bool text_left_behind(std::string_view screen, std::string_view text, std::string_view command);

}  // namespace mossbank::screen
