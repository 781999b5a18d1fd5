// The menu readers of the agents that draw their own layouts; read_menu
// (agent_menu.h) picks one by the agent's name.
//
//   read_codex_menu        "codex": numbered lists with a "›" cursor (a last
//                          option drawn without its number is numbered), the
//                          agent command center, the "open in another app"
//                          notice
//   read_grok_menu         "grok": the folder-trust question answered by
//                          hotkeys, lettered radio lists, numbered lists with
//                          a "❯" cursor, a slash command's argument picker
//   read_opencode_screen   "opencode", "kilo", "kilocode": numbered questions
//                          over an "enter submit" hint, "Select …" dialogs
//                          (also drawn beside other content), permission rows
//                          answered with Tab
//   read_antigravity_menu  "antigravity": numbered lists and plain "> " lists
//                          over a "↑/↓ Navigate" hint, the folder-trust list
//
// Each takes the screen text (plain or styled) and gives the first menu its
// layouts find, in the order above, or none. Pure functions of their
// arguments, safe on any number of threads.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "screen/menu.h"

namespace mossbank::screen {

std::optional<Menu> read_codex_menu(std::string_view screen);
std::optional<Menu> read_grok_menu(std::string_view screen);
std::optional<Menu> read_opencode_screen(std::string_view screen);
std::optional<Menu> read_antigravity_menu(std::string_view screen);

// A menu and the layout that found it, for tools and tests that show which
// branch read a screen.
struct LayoutMenu {
  Menu menu;
  std::string_view layout;
};
// Layout names:
//   codex        "command center", "open in another app", "numbered"
//   grok         "trust hotkeys", "radio list", "numbered", "argument picker"
//   opencode     "numbered question", "dialog", "permission tabs",
//                "dialog beside"
//   antigravity  "numbered", "plain list"
//   copilot      "framed list"
// None for an agent without a reader of its own, or when no layout fits.
std::optional<LayoutMenu> read_agent_layouts(std::string_view agent, std::string_view screen);
std::optional<LayoutMenu> read_codex_layouts(std::string_view screen);
std::optional<LayoutMenu> read_grok_layouts(std::string_view screen);
std::optional<LayoutMenu> read_opencode_layouts(std::string_view screen);
std::optional<LayoutMenu> read_antigravity_layouts(std::string_view screen);

// The title of the menu read from Codex's agent command center.
inline constexpr std::string_view kCommandCenterTitle = "Agent command center";

// The agent command center's one option, "Back to session", carries this key
// when Esc leaves the center: the Esc byte itself, which is what a keys
// request for the center must send.
inline constexpr std::string_view kCommandCenterBackKey = "\x1b";

// OpenCode's "Select …  esc" dialog among `rows` (the trimmed rows of
// `screen`): options are the dialog's rows, the selected one highlighted.
std::optional<Menu> read_opencode_menu(std::string_view screen, std::span<const TrimmedRow> rows);

// The screen's rows cut to the character columns [from, to) (to the end
// without `to`), CSI and OSC sequences removed and SGR sequences kept, so
// that the cut rows keep their looks.
std::string opencode_rows(std::string_view screen, size_t from, std::optional<size_t> to);

}  // namespace mossbank::screen
