#include "screen/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::full_screen;
using testing::kRule;
using testing::screen_of;

TEST(StyledRowCells, LooksAndCut) {
  const std::vector<std::string> rows = {
      "a\x1b[2mb\x1b[22mc\x1b[7md\x1b[27m\x1b[90me\x1b[31mf\x1b[90mg\x1b[0mh\x1b[38;5;90mi\x1b[K"};
  std::vector<CommandCell> cells = styled_row_cells(rows, 0, std::nullopt, false);
  std::string placeholders, inverse;
  for (const CommandCell& c : cells) {
    placeholders += c.placeholder ? '1' : '0';
    inverse += c.inverse ? '1' : '0';
  }
  EXPECT_EQ(cells_to_string(cells), "acdfhi");
  EXPECT_EQ(placeholders, "010010100");  // 38;5;90 is a colour index, not grey
  EXPECT_EQ(inverse, "000100000");

  // The cut keeps a cell while the widths before it are under the column;
  // wide characters count two.
  const std::vector<std::string> wide = {"❯ 日本語 text"};
  ScreenCursor at8{8, 0};
  EXPECT_EQ(cells_to_string(styled_row_cells(wide, 0, at8, true)), "❯ 日本語");
  ScreenCursor at7{7, 0};
  EXPECT_EQ(cells_to_string(styled_row_cells(wide, 0, at7, true)), "❯ 日本語");
  ScreenCursor at6{6, 0};
  EXPECT_EQ(cells_to_string(styled_row_cells(wide, 0, at6, true)), "❯ 日本");
  ScreenCursor other_row{2, 1};
  EXPECT_EQ(cells_to_string(styled_row_cells(wide, 0, other_row, true)), "❯ 日本語 text");
  EXPECT_TRUE(styled_row_cells(wide, 5, std::nullopt, false).empty());
}

TEST(IsWideChar, Ranges) {
  EXPECT_TRUE(is_wide_char(U'日'));
  EXPECT_TRUE(is_wide_char(U'한'));
  EXPECT_TRUE(is_wide_char(U'Ａ'));
  EXPECT_TRUE(is_wide_char(0x1F600));
  EXPECT_FALSE(is_wide_char(U'a'));
  EXPECT_FALSE(is_wide_char(U'❯'));
  EXPECT_FALSE(is_wide_char(U'─'));
  EXPECT_FALSE(is_wide_char(0xFF61));  // halfwidth katakana punctuation
}

TEST(ReadCommand, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<std::string> bottom;
    bool shell_mode;
    std::optional<ScreenCursor> cursor;  // row counted from the first of `bottom`
    bool cut;
    std::string command;
  };
  const std::optional<ScreenCursor> none;
  const Case cases[] = {
      {"only a faint hint",
       {kRule, "❯ \x1b[0;2mTry \"fix lint errors\"\x1b[0m", kRule},
       false,
       none,
       false,
       ""},
      {"the cursor block, then a hint",
       {kRule, "❯ \x1b[0;7mT\x1b[0;2mry \"fix\"\x1b[0m", kRule},
       false,
       none,
       false,
       ""},
      {"two rows",
       {kRule, "❯ make it faster", "  and smaller", kRule},
       false,
       none,
       false,
       "make it faster\nand smaller"},
      {"a one-blank indent", {kRule, "❯ a", " b", "   c", kRule}, false, none, false, "a\nb\n c"},
      {"cut at the cursor",
       {kRule, "❯ hello world", kRule},
       false,
       ScreenCursor{7, 1},
       true,
       "hello"},
      {"no cut without the flag",
       {kRule, "❯ hello world", kRule},
       false,
       ScreenCursor{7, 1},
       false,
       "hello world"},
      {"cursor at the prompt's start",
       {kRule, "❯ \x1b[0;90msuggestion\x1b[0m", kRule},
       false,
       ScreenCursor{2, 1},
       false,
       ""},
      {"a grey tail is left out",
       {kRule, "❯ fix \x1b[0;90mthe bug\x1b[0m", kRule},
       false,
       none,
       false,
       "fix"},
      {"shell mode keeps the !", {kRule, "! ls -la", kRule}, true, none, false, "! ls -la"},
      {"shell row without shell mode", {kRule, "! ls -la", kRule}, false, none, false, ""},
      {"no rule above", {"", "❯ hello", kRule}, false, none, false, ""},
      {"no rule below: to the end", {kRule, "❯ one", "  two"}, false, none, false, "one\ntwo"},
      {"no-break space after the glyph", {kRule, "❯\u00a0hi", kRule}, false, none, false, "hi"},
  };
  for (const Case& c : cases) {
    std::optional<ScreenCursor> cursor = c.cursor;
    const size_t first = 50 - c.bottom.size();
    if (cursor) cursor->row += first;
    EXPECT_EQ(read_command(full_screen(c.bottom),
                           {.shell_mode = c.shell_mode, .cursor = cursor, .cut_at_cursor = c.cut}),
              c.command)
        << c.name;
  }
}

TEST(ClaudeText, ShellTextsAndWhiteSpace) {
  struct Case {
    const char* text;
    bool shell;
    const char* stripped;
  };
  const std::vector<Case> cases = {
      {"!ls -l", true, "!ls-l"},
      {" \t!ls", true, "!ls"},
      {"\u3000\u00a0!x", true, "!x"},  // Unicode blanks lead too
      {"a !b", false, "a!b"},
      {"", false, ""},
      {"one\ntwo\x0b three\u2028", false, "onetwothree"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_shell_text(c.text), c.shell) << c.text;
    EXPECT_EQ(strip_white_space(c.text), c.stripped) << c.text;
  }
}

TEST(ClaudeBox, RowsDraftAndWhatIsShown) {
  const std::string two_rows = full_screen({kRule, "❯ make it faster", "  and smaller", kRule});
  const std::string one_row = full_screen({kRule, "❯ fix \x1b[0;90mthe bug\x1b[0m", kRule});
  const std::string no_rule = full_screen({kRule, "❯ one", "  two", ""});
  const std::string no_box = full_screen({"  1. Yes", "  2. No"});
  EXPECT_EQ(claude_box_rows(two_rows), 2u);
  EXPECT_EQ(claude_box_rows(one_row), 1u);
  EXPECT_EQ(claude_box_rows(no_rule), 1u);
  EXPECT_EQ(claude_box_rows(no_box), 0u);

  EXPECT_TRUE(text_in_command_line("faster and", two_rows));
  EXPECT_TRUE(text_in_command_line("other\nfix", one_row));
  EXPECT_FALSE(text_in_command_line("the bug", one_row));  // grey is a hint
  EXPECT_FALSE(text_in_command_line("fix", no_box));

  const struct {
    std::string screen;
    std::string text;
    bool shown;
  } shown[] = {
      {two_rows, "make it faster\nand smaller", true},
      {two_rows, "makeit faster and  smaller", true},  // white space aside
      {two_rows, "make it faster", false},
      {full_screen({kRule, "❯ [Pasted text #2 +40 lines]", kRule}), "anything", true},
      {no_box, "", true},
  };
  for (const auto& c : shown)
    EXPECT_EQ(command_line_shows(c.screen, {}, c.text), c.shown) << c.text;
}

TEST(TextLeftBehind, RowEndingInTheCommandOrTheText) {
  const struct {
    const char* screen;
    bool left;
  } cases[] = {
      {"┃ /models  \n", true},      {"  > /models", true},
      {"/models", false},  // no blank before the command
      {"   /models more  ", true},  {"a/models", false},
      {"┃\n┃ Ask anything", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(text_left_behind(c.screen, "/models more", "/models"), c.left) << c.screen;
}

TEST(IsShellModePrompt, RulesAroundTheBangRow) {
  EXPECT_TRUE(is_shell_mode_prompt(full_screen({kRule, "! ls -la", kRule, "  ! for bash mode"})));
  EXPECT_FALSE(is_shell_mode_prompt(full_screen({kRule, "! ls -la", ""})));
  EXPECT_FALSE(is_shell_mode_prompt(full_screen({"text", "! ls -la", kRule})));
  // A prompt row below ends the search.
  EXPECT_FALSE(is_shell_mode_prompt(full_screen({kRule, "! ls", kRule, "", kRule, "❯ ", kRule})));
  // A prompt row above does not.
  EXPECT_TRUE(is_shell_mode_prompt(full_screen({"❯ earlier", kRule, "! ls", kRule})));
  // The top row is never looked at.
  EXPECT_FALSE(is_shell_mode_prompt(screen_of({"! ls", kRule})));
}

TEST(IsPromptSearch, TitleAndFooter) {
  const std::string footer = "  Enter to use · Esc to cancel";
  EXPECT_TRUE(is_prompt_search(full_screen({"    Search prompts", "  > fix", footer})));
  EXPECT_TRUE(is_prompt_search(full_screen({"Search prompts · 12 matches", "  > fix", footer})));
  EXPECT_FALSE(is_prompt_search(full_screen({"     Search prompts", "  > fix", footer})));
  EXPECT_FALSE(is_prompt_search(full_screen({"    Search prompts", "  > fix"})));
  EXPECT_FALSE(is_prompt_search(full_screen({"    Search prompts here", footer})));
}

}  // namespace
}  // namespace mossbank::screen
