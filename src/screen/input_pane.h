// Whether the agent's input pane shows what was typed, and whether the agent
// is busy.
//
// Agents do not echo long input literally: a paste collapses into
// "[Pasted text #1 +3 lines]", an image path into "[Image #1]", and long
// text wraps over rows. All comparisons are made on squashed texts (tabs,
// line feeds, spaces and no-break spaces removed), so a wrapped pane and the
// typed text compare equal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mossbank::screen {

// The text without "\t", "\n", " " and U+00A0.
std::string squash(std::string_view text);

// The pane's text as the agent shows it: the last prompt row ("❯" under a
// rule, or with shell_mode a "!" row that a rule closes below) and the rows
// under it up to the next rule, joined without separators, less a leading
// "❯". None when no such pane is on screen.
std::optional<std::string> read_input_pane(std::string_view screen, bool shell_mode);

// Whether a squashed pane shows a squashed typed text: literally at its
// start, as a paste placeholder alone (long input), or as placeholders
// followed by the typed text's end.
bool pasted_placeholder(std::string_view pane, std::string_view typed, bool long_input);

// Whether the input pane shows the typed text.
bool input_shows_text(std::string_view screen, std::string_view typed, bool shell_mode);

// Whether the last 14 rows show that the agent works: an interrupt hint, a
// background-task count, a running timed step, a braille spinner starting a
// row, or queued messages.
bool pane_is_busy(std::string_view screen);

}  // namespace mossbank::screen
