#include "screen/input_pane.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::full_screen;
using testing::kRule;

std::string long_text(const std::string& ending) {
  std::string text;
  for (int k = 0; k < 12; ++k) text += "line number " + std::to_string(k) + " of the paste\n";
  return text + ending;
}

TEST(InputShowsText, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<std::string> bottom;
    std::string typed;
    bool shell_mode;
    bool shown;
  };
  const Case cases[] = {
      {"shown", {kRule, "❯ hello world", kRule}, "hello world", false, true},
      {"cut short", {kRule, "❯ hello", kRule}, "hello world", false, false},
      {"another marker", {kRule, "› hello world", kRule}, "hello world", false, false},
      {"no rule above", {"", "❯ hello world", kRule}, "hello world", false, false},
      {"indented prompt", {kRule, " ❯ hello world", kRule}, "hello world", false, false},
      {"wrapped over rows",
       {kRule, "❯ make it faster and", "  smaller please", kRule},
       "make it faster and smaller please",
       false,
       true},
      {"no-break space after the prompt",
       {kRule, "❯\u00a0hello world", kRule},
       "hello world",
       false,
       true},
      {"only the first 16 characters count",
       {kRule, "❯ abcdefghijklmnop and then something else", kRule},
       "abcdefghijklmnopqrstuvwxyz",
       false,
       true},
      {"nothing typed", {kRule, "❯ ", kRule}, " \n", false, true},
      {"a paste of three lines",
       {kRule, "❯ [Pasted text #1 +3 lines]", kRule},
       "one\ntwo\nthree",
       false,
       true},
      {"a short line is no paste",
       {kRule, "❯ [Pasted text #1 +3 lines]", kRule},
       "twenty characters ok",
       false,
       false},
      {"an image path",
       {kRule, "❯ look at this [Image #1]", kRule},
       "look at this\n/Users/me/a.png",
       false,
       true},
      {"an image missing",
       {kRule, "❯ look at this", kRule},
       "look at this\n/Users/me/a.png",
       false,
       false},
      {"two images, one placeholder",
       {kRule, "❯ see [Image #1]", kRule},
       "see\n/a/b.JPG\n/a/c.webp",
       false,
       false},
      {"a paste then its end",
       {kRule, "❯ [Pasted text #1 +40 lines] and then some more words", kRule},
       long_text("and then some more words"),
       false,
       true},
      {"a paste then other words",
       {kRule, "❯ [Pasted text #1 +40 lines] and then some more words", kRule},
       long_text("and then other words entirely"),
       false,
       false},
      {"shell mode", {kRule, "! ls -la", kRule}, "! ls -la", true, true},
      {"shell mode without the flag", {kRule, "! ls -la", kRule}, "! ls -la", false, false},
      {"shell mode not closed below", {kRule, "! ls -la"}, "! ls -la", true, false},
      {"the last prompt decides",
       {kRule, "❯ hello world", kRule, "", "  › 1. pick"},
       "hello world",
       false,
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(input_shows_text(full_screen(c.bottom), c.typed, c.shell_mode), c.shown) << c.name;
  }
}

TEST(InputShowsText, StyledScreen) {
  EXPECT_TRUE(input_shows_text(full_screen({kRule, "\x1b[0m❯ \x1b[0;7mh\x1b[0mello world", kRule}),
                               "hello world", false));
}

TEST(PastedPlaceholder, SquashedComparisons) {
  EXPECT_TRUE(pasted_placeholder("", "", false));
  EXPECT_FALSE(pasted_placeholder("x", "", false));
  EXPECT_TRUE(pasted_placeholder("[Pastedtext#2]", std::string(201, 'a'), false));
  EXPECT_FALSE(pasted_placeholder("[Pastedtext#2]", std::string(200, 'a'), false));
  EXPECT_TRUE(pasted_placeholder("[Pastedtext#1+3lines][Pastedtext#2]abcdefghijklmnopq",
                                 "xxabcdefghijklmnopq", true));
  EXPECT_FALSE(
      pasted_placeholder("[Pastedtext#1]abcdefghijklmno", "xxabcdefghijklmno", true));  // 15 left
  // Characters, not bytes: sixteen CJK characters compare.
  EXPECT_TRUE(pasted_placeholder("一二三四五六七八九十一二三四五六X",
                                 "一二三四五六七八九十一二三四五六Y", false));
}

TEST(PaneIsBusy, HintsNearTheBottom) {
  struct Case {
    const char* name;
    std::vector<std::string> bottom;
    bool busy;
  };
  const Case cases[] = {
      {"interrupt hint", {"✻ Thinking… (esc to interrupt)", "", kRule, "❯ ", kRule}, true},
      {"queued messages", {"2 queued messages", kRule, "❯ ", kRule}, true},
      {"braille spinner", {"⠋ Working", kRule, "› ", kRule}, true},
      {"ctrl+c: cancel", {"Running…  ctrl+c : cancel"}, true},
      {"background tasks", {"  3 task(s) · /tasks"}, true},
      {"a running timed step", {"  ● [12:01:02] build running"}, true},
      {"edit queued", {"press ↑ to edit queued messages"}, true},
      {"idle", {kRule, "❯ ", kRule, "  ? for shortcuts"}, false},
      {"zero tasks", {"  0 task(s) · /tasks"}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(pane_is_busy(full_screen(c.bottom)), c.busy) << c.name;

  // 14 rows from the bottom is the limit; trailing blank rows do not count.
  std::vector<std::string> rows = {"✻ Thinking… (esc to interrupt)"};
  for (int k = 0; k < 13; ++k) rows.push_back("output");
  rows.push_back("");
  rows.push_back("   ");
  EXPECT_TRUE(pane_is_busy(full_screen(rows)));
  rows.insert(rows.begin() + 1, "one more row");
  EXPECT_FALSE(pane_is_busy(full_screen(rows)));
  EXPECT_FALSE(pane_is_busy(""));
}

}  // namespace
}  // namespace mossbank::screen
