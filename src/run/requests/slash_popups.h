// Slash popups: how an agent shows the popup of commands that a typed "/"
// opens, and the title rows of its own dialogs, where the village must not
// type. The table is carried as JSON text ("slash-popups.json") and built
// once; an agent without an entry (claude, codex) has no popup to wait for.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "screen/screen_pattern.h"

namespace mossbank::run {

struct SlashPopupEntry {
  std::string agent;
  // The first group of `row` is the command on a popup row; `dialog`
  // matches a dialog's title row, trimmed.
  std::unique_ptr<screen::ScreenPattern> row;
  std::unique_ptr<screen::ScreenPattern> dialog;
};

// The table's entries in the file's key order; an entry whose patterns are
// missing, not texts or not valid patterns is left out.
const std::vector<SlashPopupEntry>& slash_popups();

// The entry of exactly this agent name.
const SlashPopupEntry* agent_entry(std::string_view agent);

// The slash command that begins the text: "/models more" gives "/models".
std::optional<std::string> slash_command_word(std::string_view text);

// The screen text with every CSI sequence removed, split into rows.
std::vector<std::string> collect_match_texts(std::string_view screen_text);

// Whether the agent has an entry and one of the screen's rows, trimmed, is
// one of its dialog titles.
bool match_agent_texts(std::string_view agent, std::string_view screen_text);

// The command on the first popup row of the screen, by the agent's entry.
std::optional<std::string> popup_command(const SlashPopupEntry& entry,
                                         std::string_view screen_text);

// Cursor and Home/End keys in typed input (the draft record of the key
// filter), and the collapsed paste marker an agent shows for a long paste.
extern const screen::ScreenPattern cursor_key_pattern;
extern const screen::ScreenPattern pasted_marker_pattern;

}  // namespace mossbank::run
