// Typing the village's text into the agent (type_into_agent, declared with
// the requests that use it): the pure pieces it is built from.
#pragma once

#include <string>
#include <string_view>

namespace mossbank::run {

// Keys that clear a draft of `rows` rows in Claude Code's box: Ctrl-E,
// Ctrl-U, DEL per row, then Ctrl-E, Ctrl-U for the first row.
std::string clear_draft_keys(size_t rows);

// The keys of a text: one line as it is, several as a bracketed paste;
// after `prefix` (a blank when the text goes after the user's draft).
std::string text_keys(std::string_view prefix, std::string_view text);

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

}  // namespace mossbank::run
