// Which menu an agent shows on its screen right now, read the way that
// agent draws its menus.
//
// read_menu reads the screen by the layouts of the agent's row
// (agent_profiles.h: Codex, Grok, OpenCode and its forks, Copilot,
// Antigravity; agent_readers.h). An agent without layouts of its own, or no
// agent, takes the generic reader (read_terminal), none while the "Search
// prompts" popup is open; a row with claude_overlays also leaves out the
// menus of Claude Code's overlays.
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

}  // namespace mossbank::screen
