// Which layout each agent's reader finds, the same menu as read_menu gives;
// and every layout read from eight threads at once reads as from one (run
// under ThreadSanitizer too).
#include "screen/agent_readers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::full_screen;
using testing::kRule;

const std::string kPanel = "\x1b[0;97;48;5;236m";
const std::string kPicked = "\x1b[0;30;48;5;214m";
const std::string kReset = "\x1b[0m";

struct Case {
  const char* agent;
  std::string screen;
  std::optional<std::string_view> layout;  // none: no menu
};

std::vector<Case> cases() {
  return {
      {"codex", full_screen({"• Ran tests", "Pick one", "› 1. Yes", "  2. No"}), "numbered"},
      {"codex",
       full_screen({"Agent command center", "All 2   Needs you 0", "",
                    "? help   esc back   ↑/↓ move   enter open   n new"}),
       "command center"},
      {"codex",
       full_screen({"This conversation is open in another app", "",
                    "Close it there and press R to continue here.", "", "r retry  f fork",
                    "←/esc command center  ⌃c/q exit"}),
       "open in another app"},
      {"codex", full_screen({"❯ 1. Yes", "  2. No"}), std::nullopt},
      {"grok",
       full_screen({"Do you trust the contents of this directory?", "Yes     y", "No      n"}),
       "trust hotkeys"},
      {"grok", full_screen({"", "Run it?", "a (●) Yes", "b (○) No"}), "radio list"},
      {"grok", full_screen({"", "Run it?", "❯ 1. Yes", "  2. No"}), "numbered"},
      {"grok",
       full_screen({"────────────3─", "  ❯ grok-4", "    grok-3", kRule, "╭──────╮",
                    "│ ❯ /model g │", "╰──────╯"}),
       "argument picker"},
      {"grok", full_screen({"› 1. Yes", "  2. No"}), std::nullopt},
      {"opencode", full_screen({"", "Which one?", "› 1. A", "  2. B", "", "enter submit"}),
       "numbered question"},
      {"kilo",
       full_screen({kPanel + "Select model        esc" + kReset, kPanel + "GPT-5" + kReset,
                    kPicked + "● Stand-in" + kReset, kPanel + "Grok" + kReset}),
       "dialog"},
      {"kilocode", full_screen({"△ Permission required", "  Allow once   Reject"}),
       "permission tabs"},
      {"opencode",
       full_screen({"┃  Ask      " + kPanel + "Select model        esc" + kReset,
                    "┃           " + kPanel + "GPT-5" + kReset,
                    "┃         " + kPicked + "● Stand-in" + kReset,
                    "┃           " + kPanel + "Grok" + kReset}),
       "dialog beside"},
      // Three blanks between the text and the title: the cut four columns
      // left of the title still holds the text, so no dialog is read.
      {"opencode",
       full_screen({"┃  Ask   " + kPanel + "Select model        esc" + kReset,
                    "┃        " + kPanel + "GPT-5" + kReset,
                    "┃      " + kPicked + "● Stand-in" + kReset,
                    "┃        " + kPanel + "Grok" + kReset}),
       std::nullopt},
      {"opencode", full_screen({"› 1. A", "  2. B"}), std::nullopt},
      {"antigravity", full_screen({kRule, "Pick", "> 1. A", "  2. B", "↑/↓ Navigate"}), "numbered"},
      {"antigravity", full_screen({kRule, "Pick", "> A", "  B", "↑/↓ Navigate"}), "plain list"},
      {"antigravity", full_screen({kRule, "> A", "  B"}), std::nullopt},
      {"copilot", full_screen({"Run it?", "❯ 1. Yes", "  2. No"}), "framed list"},
      {"claude", full_screen({"Run it?", "❯ 1. Yes", "  2. No"}), std::nullopt},
  };
}

TEST(AgentLayouts, EachLayoutGivesReadMenusMenu) {
  for (const Case& c : cases()) {
    std::optional<LayoutMenu> found = read_agent_layouts(c.agent, c.screen);
    EXPECT_EQ(found ? std::optional(found->layout) : std::nullopt, c.layout)
        << c.agent << " " << c.screen;
    if (found) {
      EXPECT_EQ(read_menu(c.agent, c.screen), found->menu) << c.agent;
    }
  }
}

std::string read_all(const std::string& screen) {
  std::string out;
  for (const char* agent : {"codex", "grok", "opencode", "antigravity"}) {
    if (std::optional<LayoutMenu> found = read_agent_layouts(agent, screen)) {
      out += std::string(found->layout) + ":" + found->menu.text;
    }
    out += is_agent_command_center(agent, screen) ? "|center|" : "|";
  }
  return out;
}

TEST(AgentLayouts, EightThreadsReadAsOne) {
  std::vector<std::string> texts;
  for (const Case& c : cases()) texts.push_back(c.screen);
  testing::expect_threads_read_as_one(texts, read_all, 1);
}

}  // namespace
}  // namespace mossbank::screen
