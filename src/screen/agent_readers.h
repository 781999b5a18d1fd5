// The menu layouts of the agents that draw their own menus. Each agent's
// row (agent_profiles.h) names its MenuLayouts; read_menu (agent_menu.h)
// tries them in order on the screen's trimmed rows.
//
//   codex_menus        numbered lists with a "›" cursor (a last option drawn
//                      without its number is numbered), the agent command
//                      center, the "open in another app" notice
//   grok_menus         the folder-trust question answered by hotkeys,
//                      lettered radio lists, numbered lists with a "❯"
//                      cursor, a slash command's argument picker
//   opencode_menus     numbered questions over an "enter submit" hint,
//                      "Select …" dialogs (also drawn beside other content),
//                      permission rows answered with Tab
//   antigravity_menus  numbered lists and plain "> " lists over a
//                      "↑/↓ Navigate" hint, the folder-trust list
//   copilot_menus      framed numbered lists with a "❯" or "›" cursor
//
// Readers take the screen text (plain or styled) and give the first menu
// their layouts find, or none. Pure functions of their arguments, safe on
// any number of threads.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "screen/menu.h"

namespace mossbank::screen {

// A menu and the layout that found it, for tools and tests that show which
// branch read a screen.
struct LayoutMenu {
  Menu menu;
  std::string_view layout;
};
// One way an agent draws a menu: its name, for tools and tests, and its
// reader of the screen text and its trimmed rows.
struct Layout {
  std::string_view name;
  std::optional<Menu> (*read)(std::string_view screen, std::span<const TrimmedRow> rows);
};

// A layout reader that needs only the rows.
template <std::optional<Menu> (*Read)(std::span<const TrimmedRow>)>
std::optional<Menu> by_rows(std::string_view, std::span<const TrimmedRow> rows) {
  return Read(rows);
}

// An agent's layouts, tried in order. `prepare`, when given, changes the
// trimmed rows first; false from it means no menu.
struct MenuLayouts {
  bool (*prepare)(std::vector<TrimmedRow>& rows);
  std::span<const Layout> layouts;
};

extern const MenuLayouts codex_menus;
extern const MenuLayouts grok_menus;
extern const MenuLayouts opencode_menus;
extern const MenuLayouts antigravity_menus;
extern const MenuLayouts copilot_menus;

// The menu of the first layout that reads one from the rows.
std::optional<LayoutMenu> first_layout(std::string_view screen, std::span<const TrimmedRow> rows,
                                       std::span<const Layout> layouts);

// The screen's rows trimmed (trim_side_bars), prepared, and read by the
// first layout that fits.
std::optional<LayoutMenu> read_layouts(const MenuLayouts& menus, std::string_view screen);

// By the agent's row: none for an agent without layouts of its own, or when
// no layout fits.
std::optional<LayoutMenu> read_agent_layouts(std::string_view agent, std::string_view screen);

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
