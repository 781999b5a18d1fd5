#include "screen/input_boxes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::concat;
using testing::full_screen;
using testing::kRule;
using testing::screen_of;
using Rows = std::vector<std::string>;

const std::string kLongRule = "──────────────────────────────────────────────────────────────";

bool no_approval(std::optional<AgentName>, std::string_view) { return false; }
// Stands in for the approval test: a question row on screen.
bool asks(std::optional<AgentName>, std::string_view screen) {
  return screen.find("Do you want") != std::string_view::npos;
}

// Grok: a rounded box whose bottom edge carries the status.
Rows grok(const Rows& inside) {
  Rows rows = {"╭──────────────────────────────────────╮"};
  rows.insert(rows.end(), inside.begin(), inside.end());
  rows.push_back("╰──── grok-4 · ~/proj ──────────────────╯");
  return rows;
}

// Codex: the composer, a row of one blank, the status row, the footer.
Rows codex(const Rows& composer, bool footer = true) {
  Rows rows = composer;
  rows.push_back(" ");
  rows.push_back("  gpt-5-codex high · 100% context left · ~/work/project");
  if (footer) rows.push_back("  ? for shortcuts");
  return rows;
}

// OpenCode: every row padded with blanks to the pane's width.
Rows opencode(const std::string& input) {
  const std::string pad(30, ' ');
  return {"  ┃" + pad,
          "  ┃  " + input + pad,
          "  ┃" + pad,
          "  ┃  Build · claude-sonnet-4 Anthropic" + pad,
          "  ╹▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀▀",
          "                          tab switch agent  ctrl+p commands"};
}

// Antigravity: the input between two long rules, the status row below.
Rows antigravity(const Rows& input, const std::string& status = "? for shortcuts") {
  Rows rows = {kLongRule};
  rows.insert(rows.end(), input.begin(), input.end());
  rows.push_back(kLongRule);
  rows.push_back(status);
  return rows;
}

TEST(HasInputBox, ByAgent) {
  struct Case {
    const char* name;
    std::optional<AgentName> agent;
    Rows bottom;
    bool box;
    ApprovalTest approval = no_approval;
  };
  const Case cases[] = {
      {"grok: an empty box", "grok", grok({"│ >                                    │"}), true},
      {"grok: placeholder", "grok", grok({"│ > Type a message...                  │"}), true},
      {"grok: typed over two rows", "grok",
       grok({"│ > first line                         │",
             "│   second line                        │"}),
       true},
      {"grok: an approval above the box", "grok",
       concat({"Do you want to run ls?", "  (y/n)"},
              grok({"│ >                                    │"})),
       false, asks},
      {"grok: no bottom edge", "grok", {"│ > hi │"}, false},
      {"codex: footer and only the prompt", "codex", codex({"›"}), true},
      {"codex: placeholder without footer", "codex", codex({"› Ask Codex to do anything"}, false),
       true},
      {"codex: typed without footer", "codex", codex({"› fix the tests"}, false), true},
      {"codex: empty without footer or placeholder", "codex", codex({"›"}, false), false},
      {"codex: two rows", "codex", codex({"› fix the tests", "  and the docs"}, false), true},
      {"codex: a second row with no prompt above", "codex",
       codex({"fix the tests", "  and the docs"}), false},
      {"codex: the command center", "codex", concat({"  Agent Command Center"}, codex({"›"})),
       false},
      {"codex: back to the command center", "codex",
       concat({"esc BACK TO AGENT COMMAND CENTER"}, codex({"›"})), false},
      {"codex: a style change inside the command center's heading", "codex",
       concat({"Agent command\x1b[2m center"}, codex({"›"})), false},
      {"codex: a command center in the text is no heading", "codex",
       concat({"the agent command centers are"}, codex({"›"})), true},
      {"codex: a braille spinner is cleaned up", "codex", codex({"› ⠋"}, false), false},
      {"claude: prompt under a rule", "claude", {kRule, "❯ ", kRule}, true},
      {"claude: an indented prompt", "claude", {kRule, " ❯ ", kRule}, false},
      {"claude: shell mode needs the flag", "claude", {kRule, "! ls", kRule}, false},
      {"other agents: no approval", "opencode", {"anything"}, true},
      {"other agents: an approval", std::nullopt, {"Do you want to proceed?"}, false, asks},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(has_input_box(c.agent, full_screen(c.bottom), false, c.approval), c.box) << c.name;
  }
  EXPECT_TRUE(has_input_box("claude", full_screen({kRule, "! ls", kRule}), true, no_approval));
  EXPECT_FALSE(has_input_box("claude", full_screen({kRule, "! ls", ""}), true, no_approval));
}

TEST(ReadBareBox, RowsAndText) {
  std::optional<InputBox> box = read_bare_box(
      "grok", screen_of(grok({"│ > \x1b[1mfirst\x1b[0m   \x1b[2m│\x1b[0m", "│   second   │"})));
  ASSERT_TRUE(box);
  EXPECT_EQ(box->prompt_row, 1u);
  EXPECT_EQ(box->last_row, 2u);
  EXPECT_EQ(box->text, "second");

  box = read_bare_box("codex", screen_of(codex({"› \x1b[2mAsk Codex to do anything\x1b[0m"})));
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Ask Codex to do anything");
  EXPECT_FALSE(read_bare_box("claude", screen_of(codex({"›"}))));
  EXPECT_FALSE(read_bare_box("codex", "›"));
  EXPECT_FALSE(read_bare_box("codex", ""));
}

TEST(FindBoxBottom, LastNonEmptyRowAndThreeAbove) {
  constinit static const ScreenPattern bottom{"^B"};
  EXPECT_EQ(find_box_bottom(Rows{"x", "B", "", "a", "b"}, bottom), 1u);
  EXPECT_EQ(find_box_bottom(Rows{"x", "B", "a", "b", "c", "d"}, bottom), std::nullopt);
  EXPECT_EQ(find_box_bottom(Rows{"B", "", ""}, bottom), std::nullopt);  // row 0 is never tested
  EXPECT_EQ(find_box_bottom(Rows{"B", "a"}, bottom), std::nullopt);
  EXPECT_EQ(find_box_bottom(Rows{"", "", ""}, bottom), std::nullopt);
}

TEST(InputBoxIsEmpty, ByAgent) {
  struct Case {
    const char* name;
    std::optional<AgentName> agent;
    Rows bottom;
    bool empty;
  };
  const Case cases[] = {
      {"no agent", std::nullopt, {kRule, "❯ ", kRule}, false},
      {"claude: empty", "claude", {kRule, "❯ ", kRule}, true},
      {"claude: a faint hint",
       "claude",
       {kRule, "❯ \x1b[0;2mTry \"refactor\"\x1b[0m", kRule},
       true},
      {"claude: typed", "claude", {kRule, "❯ hello", kRule}, false},
      {"claude: shell mode", "claude", {kRule, "! ", kRule}, false},
      {"claude: no box", "claude", {"❯ hello"}, false},
      {"codex: only the prompt, footer below", "codex", codex({"›"}), true},
      {"codex: the placeholder is not consulted", "codex", codex({"› Ask Codex to do anything"}),
       true},
      {"codex: no footer", "codex", codex({"›"}, false), false},
      {"codex: two rows", "codex", codex({"› a", "  b"}), false},
      {"codex: command center", "codex", concat({"Agent command center"}, codex({"›"})), false},
      {"codex: command center with a style change inside", "codex",
       concat({"Agent command\x1b[2m center"}, codex({"›"})), false},
      {"codex: back to the command center, inverse inside", "codex",
       concat({"esc back to agent \x1b[7mcommand\x1b[0m center"}, codex({"›"})), false},
      {"grok has no footer", "grok", grok({"│ >                                    │"}), false},
      {"opencode: placeholder with an example", "opencode",
       opencode("Ask anything… \"Fix a TODO in the codebase\""), true},
      {"opencode: typed", "opencode", opencode("fix it"), false},
      {"antigravity: empty", "antigravity", antigravity({">"}), true},
      {"antigravity: typed", "antigravity", antigravity({"> hi"}), false},
      {"unknown agent", "cline", {kRule, "❯ ", kRule}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(input_box_is_empty(c.agent, full_screen(c.bottom)), c.empty) << c.name;
  }
}

TEST(ReadSideBox, OpenCode) {
  EXPECT_EQ(read_side_box("opencode", full_screen(opencode(""))), "");
  EXPECT_EQ(read_side_box("opencode", full_screen(opencode("Ask anything…"))), "");
  EXPECT_EQ(read_side_box("opencode", full_screen(opencode("Ask anything… \"Fix a TODO\""))), "");
  EXPECT_EQ(read_side_box("opencode", full_screen(opencode("make it faster   "))),
            "make it faster");
  EXPECT_EQ(read_side_box("kilo", full_screen(opencode("x"))), std::nullopt);
  EXPECT_EQ(read_side_box(std::nullopt, full_screen(opencode("x"))), std::nullopt);
  // The bottom edge among the first four rows.
  Rows rows = opencode("x");
  rows.erase(rows.begin());
  EXPECT_EQ(read_side_box("opencode", screen_of(rows)), std::nullopt);
  // A status row that is not one.
  rows = opencode("x");
  rows[3] = "  ┃  Build";
  EXPECT_EQ(read_side_box("opencode", full_screen(rows)), std::nullopt);
}

TEST(RuledBox, Antigravity) {
  struct Case {
    const char* name;
    Rows bottom;
    bool empty;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"empty", antigravity({">"}), true, ""},
      {"typed over rows", antigravity({"> one", "  two", "", "  three"}), false,
       "one\ntwo\n\nthree"},
      {"a paste placeholder", antigravity({">[Pasted text #2 +10 lines]"}), false,
       "[Pasted text #2 +10 lines]"},
      {"a mode line", antigravity({"> Plan mode: research & plan only (shift+tab to cycle)"}), true,
       "Plan mode: research & plan only (shift+tab to cycle)"},
      {"a mode line cut short", antigravity({"> Auto mode: edits & safe...", ""}), true,
       "Auto mode: edits & safe..."},
      {"cut short without the shortcuts row",
       antigravity({"> Auto mode: edits & safe..."}, "Auto mode on"), false,
       "Auto mode: edits & safe..."},
      {"cut short but not a mode line", antigravity({"> Auto modes are: fun..."}), false,
       "Auto modes are: fun..."},
      {"task rows under the box",
       {kLongRule, ">", kLongRule, "  ● [12:00:01] Read file", "  ✓ [12:00:02] Edit file",
        kLongRule, "? for shortcuts"},
       true,
       ""},
      {"a row that is no input", antigravity({"> a", "b"}), false, std::nullopt},
      {"no rule above the prompt", {"text", "> a", kLongRule, "status"}, false, std::nullopt},
      {"the status row is a rule", {kLongRule, "> a", kLongRule, kLongRule}, false, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::string screen = full_screen(c.bottom);
    EXPECT_EQ(ruled_box_input_empty("antigravity", screen), c.empty) << c.name;
    std::optional<InputBox> box = read_ruled_box("antigravity", screen);
    EXPECT_EQ(box ? std::optional<std::string>(box->text) : std::nullopt, c.text) << c.name;
  }
  EXPECT_FALSE(ruled_box_input_empty("claude", full_screen(antigravity({">"}))));
}

TEST(HasClaudePromptBox, LastCandidateDecides) {
  EXPECT_TRUE(has_claude_prompt_box(full_screen({kRule, "❯ hi", kRule}), false));
  EXPECT_TRUE(
      has_claude_prompt_box(full_screen({kRule, "❯\u00a0", kRule, "  ? for shortcuts"}), false));
  EXPECT_FALSE(has_claude_prompt_box(full_screen({kRule, " ❯ hi", kRule}), false));
  // A menu's cursor row below the prompt is the last candidate.
  EXPECT_FALSE(has_claude_prompt_box(full_screen({kRule, "❯ hi", kRule, " ❯ 1. Yes"}), false));
  EXPECT_FALSE(has_claude_prompt_box(full_screen({kRule, "! ls", kRule}), false));
  EXPECT_TRUE(has_claude_prompt_box(full_screen({kRule, "! ls", kRule}), true));
  EXPECT_FALSE(has_claude_prompt_box(full_screen({kRule, "! ls"}), true));
  EXPECT_FALSE(has_claude_prompt_box("", false));
}

}  // namespace
}  // namespace mossbank::screen
