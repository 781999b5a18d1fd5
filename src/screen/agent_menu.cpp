#include "screen/agent_menu.h"

#include <string>
#include <vector>

#include "base/text.h"
#include "screen/agent_profiles.h"
#include "screen/agent_readers.h"
#include "screen/command_line.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

std::string join_lines(const std::vector<std::string>& lines, size_t from, size_t to) {
  return join(std::span(lines).subspan(from, to - from), "\n");
}

// The hint of an overlay that esc closes.
constinit const ScreenPattern esc_to_close_pattern{"(?i)\\besc to close\\b"};

// Claude Code's overlays draw lists that read as menus: none of them is a
// question. An "Esc to close" in the title means a menu's title reached up
// into an overlay drawn above it; the title then starts below that line.
std::optional<Menu> cut_below_closed_overlay(Menu menu) {
  const std::vector<std::string> lines = split_lines(menu.title);
  size_t hint = lines.size();
  for (size_t k = lines.size(); k-- > 0;) {
    if (esc_to_close_pattern.is_match(lines[k])) {
      hint = k;
      break;
    }
  }
  if (hint == lines.size()) return menu;
  if (!claude_overlay(join_lines(lines, 0, hint + 1))) return menu;

  menu.title = std::string(js_trim(join_lines(lines, hint + 1, lines.size())));
  menu_text(menu);
  size_t removed = 0;
  for (size_t k = menu.rows.size(); k-- > 0;) {
    if (esc_to_close_pattern.is_match(menu.rows[k])) {
      removed = k + 1;
      break;
    }
  }
  menu.rows.erase(menu.rows.begin(), menu.rows.begin() + static_cast<std::ptrdiff_t>(removed));
  if (menu.selected_row) {
    menu.selected_row = *menu.selected_row >= removed
                            ? std::optional<size_t>(*menu.selected_row - removed)
                            : std::nullopt;
  }
  return menu;
}

std::optional<Menu> read_generic_menu(bool claude, std::string_view screen) {
  // The popup's list of earlier prompts is no question.
  if (is_prompt_search(screen)) return std::nullopt;
  const std::string text = strip_escapes(screen);
  std::optional<Menu> menu = read_terminal(text);
  if (!menu) return std::nullopt;
  menu = read_claude_trust(std::move(*menu));
  if (!claude) return menu;
  if (claude_overlay(screen, &*menu)) return std::nullopt;
  return cut_below_closed_overlay(std::move(*menu));
}

}  // namespace

std::optional<Menu> read_menu(std::optional<std::string_view> agent, std::string_view screen) {
  const AgentProfile* profile = agent_profile(agent);
  if (profile != nullptr && profile->menus != nullptr) {
    std::optional<LayoutMenu> found = read_layouts(*profile->menus, screen);
    return found ? std::optional<Menu>(std::move(found->menu)) : std::nullopt;
  }
  return read_generic_menu(profile != nullptr && profile->claude_overlays, screen);
}

bool is_agent_command_center(std::optional<std::string_view> agent, std::string_view screen) {
  if (!agent) return false;
  std::optional<Menu> menu = read_menu(agent, screen);
  return menu && menu->title == kCommandCenterTitle;
}

// Claude's folder-trust question, drawn on one or more lines.
constinit const ScreenPattern space_run_pattern{"{js_space}+"};
constinit const ScreenPattern trust_question_pattern{
    "Is this a project you created or one you trust\\?|"
    "Do you trust the contents of this project\\?"};
constinit const ScreenPattern trust_first_line_pattern{"^(?:Quick safety check:|Do you trust)"};

Menu read_claude_trust(Menu menu) {
  if (menu.title.find("Accessing workspace:") == std::string::npos) return menu;
  if (!trust_question_pattern.is_match(space_run_pattern.replace_all(menu.title, " "))) return menu;
  if (menu.options.size() != 2) return menu;
  const bool no_exit = menu.options[0].label == "No, exit" || menu.options[1].label == "No, exit";
  const bool yes_trust = menu.options[0].label == "Yes, I trust this folder" ||
                         menu.options[1].label == "Yes, I trust this folder";
  if (!no_exit || !yes_trust) return menu;

  const std::vector<std::string> lines = split_lines(menu.title);
  size_t question = 0;
  while (question < lines.size() && !trust_first_line_pattern.is_match(lines[question])) ++question;
  if (question == 0 || question == lines.size()) return menu;
  menu.title = std::string(js_trim(join_lines(lines, question, lines.size()))) + "\n\n" +
               std::string(js_trim(join_lines(lines, 0, question)));
  menu_text(menu);
  return menu;
}

// Claude's task overlay: its hints and the main task's row.
constinit const ScreenPattern overlay_select_pattern{"↑/↓ to select"};
constinit const ScreenPattern overlay_close_pattern{
    "(?i)\\b(?:esc to close|enter to view|f to foreground)\\b"};
constinit const ScreenPattern main_task_pattern{"^[●○]{js_space}+main$"};

bool claude_overlay(std::string_view screen, const Menu* menu) {
  const std::string text = strip_escapes(screen);
  const std::vector<std::string> lines = split_lines(text);
  const std::string tail = join_lines(lines, lines.size() > 6 ? lines.size() - 6 : 0, lines.size());
  if (!overlay_select_pattern.is_match(tail) || !overlay_close_pattern.is_match(tail)) return false;
  std::optional<Menu> read;
  if (menu == nullptr) {
    read = read_terminal(text);
    if (!read) return false;
    menu = &*read;
  }
  for (const MenuOption& option : menu->options) {
    if (main_task_pattern.is_match(option.label)) return true;
  }
  return false;
}

namespace {

// A ">" prompt below a framed list: the list is transcript.
constinit const ScreenPattern framed_prompt_pattern{"^>(?:{js_space}|$)"};

std::optional<Menu> read_framed_list(std::span<const TrimmedRow> rows) {
  std::optional<MarkedBlock> marked = read_marked_block(rows, U"❯›");
  if (!marked) return std::nullopt;
  const auto& [block, selected] = *marked;
  for (size_t r = block.last_row + 1; r < rows.size(); ++r) {
    if (framed_prompt_pattern.is_match(rows[r].trimmed)) return std::nullopt;
  }

  FrameRules rules;
  rules.max_blank_run = 1;
  auto [title, title_row] = frame_rows(rows, block.first_row, rules);
  PartialMenu partial =
      numbered_block_menu(block, selected, std::move(title), title_row, kNavigateArrows);
  partial.esc = has_esc_hint(join_row_texts(rows, block.last_row));
  for (const MenuOption& option : partial.options) {
    if (option.key == "esc") partial.esc = true;
  }
  return finish_menu(std::move(partial), rows);
}

constexpr Layout kCopilotLayouts[] = {{"framed list", by_rows<read_framed_list>}};

}  // namespace

constinit const MenuLayouts copilot_menus{nullptr, kCopilotLayouts};

}  // namespace mossbank::screen
