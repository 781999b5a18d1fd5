// read_menu and awaiting_approval for every agent from eight threads at once
// must read what one thread reads: run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/approval.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::dialog_screen;
using testing::full_screen;
using testing::kRule;

std::string read_all(const std::string& screen) {
  std::string out;
  for (const char* agent :
       {"claude", "codex", "copilot", "grok", "opencode", "antigravity", "cursor"}) {
    if (std::optional<Menu> menu = read_menu(agent, screen)) out += menu->text;
    out += is_approval_prompt(agent, screen) ? "|asks" : "|-";
    out += awaiting_approval(agent, screen) ? "|waits|" : "|-|";
    out += is_agent_command_center(agent, screen) ? "center|" : "|";
  }
  out += awaiting_approval(std::nullopt, screen) ? "waits" : "-";
  return out;
}

std::vector<std::string> screens() {
  return {
      dialog_screen({"Accessing workspace:", "", "/p", "",
                     "Do you trust the contents of this project?", "", "❯ Yes, I trust this folder",
                     "  No, exit"}),
      dialog_screen({"Background tasks", "❯ ● main", "  ○ build", "",
                     "↑/↓ to select · Enter to view · Esc to close"}),
      full_screen({"│ Run this command?", "│ ❯ 1. Yes", "│   2. No (esc)"}),
      full_screen({"Allow edits? (y/n)", kRule, "❯ ", kRule}),
      full_screen({"a (●) Allow once", "b (○) Deny"}),
  };
}

TEST(AgentMenuThreads, EightThreadsReadAsOne) {
  const std::vector<std::string> texts = screens();
  testing::expect_threads_read_as_one(texts, read_all, 3);
}

}  // namespace
}  // namespace mossbank::screen
