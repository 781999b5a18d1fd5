#include "run/requests/typing.h"

#include <gtest/gtest.h>

#include <vector>

#include "run/testing/test_files.h"
#include "screen/command_line.h"
#include "terminal/terminal.h"

namespace mossbank::run {
namespace {

// A captured Claude Code screen, drawn on a fresh terminal, as marked lines.
std::string claude_screen(const std::string& name) {
  Terminal t = terminal_new(80, 24);
  terminal_process(t, testing::agent_capture("claude/" + name + ".raw"));
  return screen_lines_marked(t);
}

TEST(TypingKeys, ClearingAndText) {
  EXPECT_EQ(clear_draft_keys(1), "\x05\x15\x7f\x05\x15");
  EXPECT_EQ(clear_draft_keys(3), "\x05\x15\x7f\x05\x15\x7f\x05\x15\x7f\x05\x15");

  struct Case {
    const char* prefix;
    const char* text;
    const char* keys;
  };
  const std::vector<Case> cases = {
      {"", "hello", "hello"},
      {" ", "hello", " hello"},
      {"", "one\ntwo", "\x1b[200~one\ntwo\x1b[201~"},
      {" ", "one\r\ntwo", " \x1b[200~one\r\ntwo\x1b[201~"},
  };
  for (const Case& c : cases) EXPECT_EQ(text_keys(c.prefix, c.text), c.keys) << c.text;
}

// The box readers that typing waits on, on screens the terminal drew.
TEST(TypingScreens, TheDraftInClaudesBox) {
  using screen::claude_box_rows;
  using screen::text_in_command_line;
  const std::string wrapped = claude_screen("typed-long-wrapped-80x24");
  const std::string idle = claude_screen("idle-80x24");
  const std::string approval = claude_screen("approval-bash-80x24");

  // The long line wraps onto a second row above the rule.
  EXPECT_EQ(claude_box_rows(wrapped), 2u);
  EXPECT_EQ(claude_box_rows(idle), 1u);
  EXPECT_EQ(claude_box_rows(approval), 0u);

  EXPECT_TRUE(text_in_command_line("please read every file", wrapped));
  // One line of the draft is enough, white space aside.
  EXPECT_TRUE(text_in_command_line("something else\nsingle sentence of  plain words", wrapped));
  EXPECT_FALSE(text_in_command_line("something else", wrapped));
  EXPECT_FALSE(text_in_command_line("", wrapped));
  EXPECT_FALSE(text_in_command_line("please", idle));
}

}  // namespace
}  // namespace mossbank::run
