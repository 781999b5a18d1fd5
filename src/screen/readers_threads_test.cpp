// Every reader from eight threads at once, starting before any of their
// patterns is compiled, must read what one thread reads: run under
// ThreadSanitizer too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/command_line.h"
#include "screen/input_boxes.h"
#include "screen/input_pane.h"
#include "screen/menu.h"
#include "screen/terminal_reader.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::dialog_screen;
using testing::full_screen;
using testing::kRule;

bool no_approval(std::optional<AgentName>, std::string_view) { return false; }

// Everything the readers say about a screen, as one text.
std::string read_all(const std::string& screen) {
  std::string out;
  if (std::optional<Menu> menu = read_terminal(screen)) out += menu->text + "|";
  const std::vector<TrimmedRow> rows = trim_side_bars(screen);
  if (std::optional<NumberedBlock> block = read_numbered_block(rows, U"❯›")) {
    out += std::to_string(block->entries.size()) + frame_rows(rows, block->first_row).first + "|";
    if (auto sel = selected_option_index(*block, rows)) out += std::to_string(sel->index);
  }
  out += input_shows_text(screen, "hello world", false) ? "shown|" : "not shown|";
  out += pane_is_busy(screen) ? "busy|" : "idle|";
  out += read_command(screen, {.cursor = ScreenCursor{4, 48}, .cut_at_cursor = true}) + "|";
  out += is_shell_mode_prompt(screen) ? "shell|" : "|";
  out += is_prompt_search(screen) ? "search|" : "|";
  for (const char* agent : {"claude", "codex", "grok", "opencode", "antigravity"}) {
    out += has_input_box(agent, screen, false, no_approval) ? "box" : "-";
    out += input_box_is_empty(agent, screen) ? "empty|" : "|";
  }
  return out;
}

std::vector<std::string> screens() {
  return {
      dialog_screen(
          {"Do you want to proceed?", "\x1b[0;7m❯ 1. Yes\x1b[0m", "  2. No", "", "Esc to cancel"}),
      full_screen({"✻ Thinking… (esc to interrupt)", kRule, "❯ hello world", kRule}),
      full_screen({"› Ask Codex to do anything", " ", "  gpt-5 · ~/work", "  ? for shortcuts"}),
      full_screen({"  ┃", "  ┃  Ask anything…", "  ┃", "  ┃  Build · model", "  ╹▀▀▀▀"}),
      full_screen({kRule, "! ls", kRule}),
  };
}

TEST(ReadersThreads, EightThreadsReadAsOne) {
  const std::vector<std::string> texts = screens();
  testing::expect_threads_read_as_one(texts, read_all, 5);
}

}  // namespace
}  // namespace mossbank::screen
