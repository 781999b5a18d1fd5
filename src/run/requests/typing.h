// Typing the village's text into the agent (type_into_agent, declared with
// the requests that use it): the keys it types. The screen reading it waits
// on is in screen/command_line.h and screen/slash_popups.h.
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

}  // namespace mossbank::run
