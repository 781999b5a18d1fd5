#include "screen/terminal_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::dialog_screen;
using testing::full_screen;
using testing::kRule;
using testing::labels;
using testing::screen_of;
using Rows = std::vector<std::string>;

TEST(RowTests, RulesPromptsAndMarkers) {
  EXPECT_TRUE(is_rule_row("────────"));
  EXPECT_TRUE(is_rule_row("━━━━━━━━━━ title"));
  EXPECT_FALSE(is_rule_row("───────"));
  EXPECT_FALSE(is_rule_row(" ────────"));
  EXPECT_TRUE(is_shell_mode_row("! ls"));
  EXPECT_TRUE(is_shell_mode_row("!"));
  EXPECT_FALSE(is_shell_mode_row("!ls"));
  EXPECT_TRUE(is_prompt_marker_row("  › x"));
  EXPECT_TRUE(is_prompt_marker_row("▶"));
  EXPECT_FALSE(is_prompt_marker_row("> x"));

  EXPECT_EQ(find_prompt_row(Rows{"──────────", "❯ "}, false), 1u);
  EXPECT_EQ(find_prompt_row(Rows{"❯ "}, false), std::nullopt);
  EXPECT_EQ(find_prompt_row(Rows{"──────────", " ❯ x"}, false), std::nullopt);  // not in column 0
  EXPECT_EQ(find_prompt_row(Rows{"──────────", "! ls"}, false), std::nullopt);
  EXPECT_EQ(find_prompt_row(Rows{"──────────", "! ls"}, true), 1u);
  // The lowest prompt wins.
  EXPECT_EQ(find_prompt_row(Rows{"──────────", "❯ old", "──────────", "❯\u00a0new"}, false), 3u);
}

TEST(CursorAtPromptStart, RightAfterTheGlyph) {
  const std::string empty = screen_of({"──────────", "❯ ", "──────────"});
  EXPECT_TRUE(cursor_at_prompt_start(empty, 2, 1));
  EXPECT_FALSE(cursor_at_prompt_start(empty, 1, 1));
  EXPECT_FALSE(cursor_at_prompt_start(empty, 2, 2));
  EXPECT_FALSE(cursor_at_prompt_start(screen_of({"──────────", "❯ abc"}), 5, 1));
  EXPECT_TRUE(
      cursor_at_prompt_start(screen_of({"──────────", "\x1b[0m❯ \x1b[0;2mhint\x1b[0m"}), 2, 1));
  EXPECT_FALSE(cursor_at_prompt_start(screen_of({"text", "❯ "}), 2, 1));  // no rule above
}

TEST(ReadTerminal, PermissionMenu) {
  std::optional<Menu> menu = read_terminal(
      dialog_screen({"Do you want to proceed?", "❯ 1. Yes", "  2. No", "", "Esc to cancel"}));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Do you want to proceed?");
  EXPECT_EQ(labels(*menu), (std::vector<std::string>{"1. Yes", "2. No"}));
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_EQ(menu->rows,
            (std::vector<std::string>{"Do you want to proceed?", "❯ 1. Yes", "  2. No"}));
  EXPECT_EQ(menu->selected_row, 1u);
  EXPECT_EQ(menu->text, "Do you want to proceed?\n1. Yes\n2. No");
  EXPECT_FALSE(menu->highlight_selection);
}

TEST(ReadTerminal, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<std::string> bottom;
    bool menu;
    std::string title = {};
    std::vector<std::string> labels = {};
    std::optional<size_t> selected = {};
    uint8_t cancel = kNoCancel;
  };
  const Case cases[] = {
      {"seven rows below",
       {"Pick one", "❯ 1. Yes", "  2. No", "a", "b", "c", "d", "e", "f", "g"},
       false},
      {"six rows below",
       {"Pick one", "❯ 1. Yes", "  2. No", "a", "b", "c", "d", "e", "f"},
       true,
       "Pick one",
       {"1. Yes", "2. No"},
       0,
       kNoCancel},
      {"an input box, not a menu", {"──────────", "❯ hello", "──────────"}, false},
      {"a prompt below the marker",
       {"❯ 1. old answer", "  2. other", "", "──────────", "❯ ", "──────────", "  ? for shortcuts"},
       false},
      {"selection lower down, cursor ›",
       {"Choose a model", "", "  opus", "› sonnet", "  haiku", "", "escape to cancel"},
       true,
       "Choose a model",
       {"opus", "sonnet", "haiku"},
       1,
       kCancelByEsc},
      {"esc to cancel above the menu says nothing",
       {"you said: esc to cancel the job", "Which?", "▶ a", "  b"},
       true,
       "you said: esc to cancel the job\nWhich?",
       {"a", "b"},
       0,
       kNoCancel},
      {"a wrapped numbered label and a detail row",
       {"Question", "❯ 1. A long label that", "     wraps here", "  2. Short",
        "    described below", "    and more"},
       true,
       "Question",
       {"1. A long label that wraps here", "2. Short"},
       0,
       kNoCancel},
      {"no-break space and CJK",
       {"  どうしますか？", "  ❯\u00a0はい", "    いいえ"},
       true,
       "どうしますか？",
       {"はい", "いいえ"},
       0,
       kNoCancel},
      {"a dashed row is passed over, a heavy rule ends the title",
       {"old text", "════════", "Title line", "  indented", "- - - -", "❯ x", "  y"},
       true,
       "Title line\n  indented",
       {"x", "y"},
       0,
       kNoCancel},
      {"a numbered markdown list is no menu", {"Steps:", "1. build", "2. test", "3. ship"}, false},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_terminal(dialog_screen(c.bottom));
    ASSERT_EQ(menu.has_value(), c.menu) << c.name;
    if (!menu) continue;
    EXPECT_EQ(menu->title, c.title) << c.name;
    EXPECT_EQ(labels(*menu), c.labels) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
    EXPECT_EQ(menu->cancel, c.cancel) << c.name;
  }
}

TEST(ReadTerminal, DetailsAndFreeText) {
  std::optional<Menu> menu = read_terminal(dialog_screen(
      {"Question", "❯ 1. Short", "    described below", "    and more", "  3. Type something."}));
  ASSERT_TRUE(menu);
  ASSERT_EQ(menu->options.size(), 2u);
  EXPECT_EQ(menu->options[0].detail, "described below and more");
  EXPECT_EQ(menu->options[1].kind, kFreeTextInline);
  EXPECT_EQ(menu->text, "Question\n1. Short\n3. Type something");
}

TEST(ReadTerminal, BoxBesideTheMenuIsTheQuestion) {
  std::optional<Menu> menu = read_terminal(dialog_screen({
      "Run this?            ╭──────────────╮",
      "❯ Yes                │ Details here │",
      "  No                 │ second line  │",
      "                     ╰──────────────╯",
  }));
  ASSERT_TRUE(menu);
  EXPECT_EQ(labels(*menu), (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(menu->title, "Run this?");
  EXPECT_EQ(menu->question, "Details here\nsecond line");
}

TEST(ReadTerminal, OnlyTheLast45RowsHoldTheCursor) {
  std::vector<std::string> rows = {"Pick", "› a", "  b"};
  rows.resize(rows.size() + 44);
  EXPECT_FALSE(read_terminal(screen_of(rows)));  // the marker row is the 46th from the bottom
  rows.pop_back();
  EXPECT_TRUE(read_terminal(screen_of(rows)));
}

TEST(ReadTerminal, WithoutARuleTheTitleTakesUpTo16Rows) {
  std::optional<Menu> menu = read_terminal(full_screen({"Pick", "› a", "  b"}));
  ASSERT_TRUE(menu);
  // Sixteen rows collected; the top one is blank and dropped.
  const size_t title_rows = std::count(menu->title.begin(), menu->title.end(), '\n') + 1;
  EXPECT_EQ(title_rows, 15u);
  EXPECT_EQ(menu->rows.size(), title_rows + 2);
  EXPECT_EQ(menu->title.substr(menu->title.size() - 5), "\nPick");
}

TEST(ReadTerminal, MenuGoneFromTheScreen) {
  // A menu in the transcript, answered, with the input box below it.
  EXPECT_FALSE(read_terminal(full_screen({
      "Do you want to proceed?",
      "❯ 1. Yes",
      "  2. No",
      "",
      "⏺ Bash(ls)",
      "  ⎿  README.md",
      "",
      kRule,
      "❯ ",
      kRule,
      "  ? for shortcuts",
  })));
  EXPECT_FALSE(read_terminal(""));
  EXPECT_FALSE(read_terminal("\n\n"));
}

}  // namespace
}  // namespace mossbank::screen
