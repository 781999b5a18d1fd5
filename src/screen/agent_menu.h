// Which menu an agent shows on its screen right now, read the way that
// agent draws its menus.
//
// read_menu dispatches on the agent's name (exact, case-sensitive):
//   "kilo", "opencode", "kilocode"  OpenCode's dialogs and lists
//                                   (read_opencode_screen, agent_readers.h)
//   "grok"                          Grok's hotkey, radio and numbered lists
//                                   and argument picker (read_grok_menu)
//   "codex"                         Codex's lists, its command center and
//                                   the open-elsewhere notice (read_codex_menu)
//   "copilot"                       framed numbered lists (read_copilot_menu)
//   "antigravity"                   Antigravity's lists (read_antigravity_menu)
//   any other name, or none         the generic reader (read_terminal), none
//                                   while the "Search prompts" popup is open;
//                                   for "claude" also without the menus of
//                                   Claude Code's overlays
// Every menu of the generic path goes through read_claude_trust, which puts
// a folder-trust question before the workspace lines that Claude Code shows
// above it. The menu's text (what the village answers menus by) comes from
// the rewritten title.
//
// Pure functions of their arguments, safe on any number of threads.
#pragma once

#include <optional>
#include <string_view>

#include "screen/menu.h"

namespace mossbank::screen {

std::optional<Menu> read_menu(std::optional<std::string_view> agent, std::string_view screen);

// Whether Codex's agent command center is open: read_menu gives a menu
// titled exactly "Agent command center". False without an agent.
bool is_agent_command_center(std::optional<std::string_view> agent, std::string_view screen);

// The trust question first, then the workspace lines, when the menu is the
// folder-trust question; otherwise the menu as it is.
Menu read_claude_trust(Menu menu);

// Whether the screen's menu belongs to one of Claude Code's list overlays
// (the background tasks, whose first entry is "● main") rather than to a
// question. Without a menu given, read_terminal reads one from the screen.
bool claude_overlay(std::string_view screen, const Menu* menu = nullptr);

// Copilot's numbered lists with a "❯" or "›" cursor, drawn in a frame.
std::optional<Menu> read_copilot_menu(std::string_view screen);

}  // namespace mossbank::screen
