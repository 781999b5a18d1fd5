// The popup of commands that a typed "/" opens, and the title rows of the
// agent's own dialogs, where nothing may be typed; read by the agent's
// slash-popup rule (agent_profiles.h). An agent without one has no popup
// to wait for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "screen/screen_pattern.h"

namespace mossbank::screen {

struct SlashPopupRule;

// The slash command that begins the text: "/models more" gives "/models".
std::optional<std::string> slash_command_word(std::string_view text);

// Whether one of the screen's rows, CSI sequences removed and trimmed, is
// one of the rule's dialog titles.
bool dialog_open(const SlashPopupRule& rule, std::string_view screen_text);

// The command on the first popup row of the screen, by the rule.
std::optional<std::string> popup_command(const SlashPopupRule& rule, std::string_view screen_text);

// The collapsed paste marker an agent shows for a long paste, white space
// removed.
extern const ScreenPattern pasted_marker_pattern;

}  // namespace mossbank::screen
