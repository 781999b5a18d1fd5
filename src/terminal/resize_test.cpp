#include <gtest/gtest.h>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;
using testing::fixture;
using testing::screen_row;

std::string numbered_rows(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? "\r\n" : "") + std::string("row ") + std::to_string(i);
  return s;
}

TEST(Resize, SameSizeChangesNothing) {
  Terminal t = fed(20, 5,
                   "a\x1b[6GH\x1b"
                   "H");  // an extra tab stop at column 5
  const std::vector<uint8_t> stops = t.primary.tab_stops;
  terminal_resize(t, 20, 5);
  EXPECT_EQ(t.primary.tab_stops, stops);
}

TEST(Resize, SidesAreClamped) {
  Terminal t = terminal_new(10, 5);
  terminal_resize(t, 0, 0);
  EXPECT_EQ(t.cols, 2u);
  EXPECT_EQ(t.rows, 1u);
  EXPECT_EQ(t.primary.cols, 2u);
  terminal_resize(t, 65535, 65535);
  EXPECT_EQ(t.cols, kMaxTerminalSide);
  EXPECT_EQ(t.rows, kMaxTerminalSide);
  EXPECT_EQ(t.primary.lines.capacity(), kMaxTerminalSide + 5000u);
}

TEST(Resize, FewerRowsWithTheCursorAtTheBottomScrollTheTopAway) {
  Terminal t = fed(20, 24, numbered_rows(24));
  terminal_resize(t, 20, 10);
  EXPECT_EQ(t.primary.scroll_back, 14u);
  EXPECT_EQ(testing::first_row(t), "row 14");
  EXPECT_EQ(terminal_cursor(t).row, 9u);
  terminal_resize(t, 20, 24);
  EXPECT_EQ(t.primary.scroll_back, 0u);
  EXPECT_EQ(screen_lines(t), screen_lines(fed(20, 24, numbered_rows(24))));
  EXPECT_EQ(terminal_cursor(t).row, 23u);
}

TEST(Resize, FewerRowsWithTheCursorAtTheTopDropTheBottom) {
  Terminal t = fed(20, 24, numbered_rows(24) + "\x1b[H");
  terminal_resize(t, 20, 10);
  EXPECT_EQ(t.primary.scroll_back, 0u);
  EXPECT_EQ(t.primary.lines.count(), 10u);
  EXPECT_EQ(testing::first_row(t), "row 0");
  EXPECT_EQ(terminal_cursor(t).row, 0u);
}

TEST(Resize, WideningJoinsSoftWrappedRows) {
  Terminal t = fed(40, 5, std::string(60, 'x') + "\r\n" + std::string(10, 'y') + "\r\n");
  ASSERT_TRUE(screen_row(t, 1).wrapped);
  terminal_resize(t, 80, 5);
  EXPECT_EQ(screen_lines(t), std::string(60, 'x') + "\n" + std::string(10, 'y') + "\n\n\n");
  EXPECT_FALSE(screen_row(t, 1).wrapped);
  EXPECT_EQ(terminal_cursor(t).row, 2u);  // the cursor stays on its (empty) row
}

TEST(Resize, NarrowingSplitsRowsAndKeepsWideCharactersWhole) {
  Terminal t = fed(10, 6, "abcd漢字efgh\r\nzz");
  terminal_resize(t, 5, 6);
  EXPECT_EQ(screen_lines(t), "abcd\n漢字e\nfgh\nzz\n\n");
  EXPECT_TRUE(screen_row(t, 1).wrapped);
  EXPECT_TRUE(screen_row(t, 2).wrapped);
  EXPECT_EQ(terminal_cursor(t).row, 3u);
  EXPECT_EQ(terminal_cursor(t).col, 2u);
}

TEST(Resize, AWideCharacterEndingARowKeepsItsSpacer) {
  Terminal t = fed(10, 4, "abcdefgh漢字xy\r\n");
  const std::string before = screen_lines(t);
  terminal_resize(t, 5, 4);
  EXPECT_EQ(screen_lines(t), "abcde\nfgh漢\n字xy\n");
  terminal_resize(t, 10, 4);
  EXPECT_EQ(screen_lines(t), before);
}

TEST(Resize, TabStopsContinueFromTheLastStop) {
  Terminal t = terminal_new(80, 2);
  terminal_resize(t, 100, 2);
  terminal_process(t, "\x1b[73G\t");
  EXPECT_EQ(terminal_cursor(t).col, 80u);
  terminal_process(t, "\t\t");
  EXPECT_EQ(terminal_cursor(t).col, 96u);
}

// Soft-wrapped lines above and below the cursor; the cursor on "HERE".
std::string around_the_cursor() {
  std::string s;
  for (int i = 0; i < 3; ++i) s += std::string(30, 'a' + i) + "\r\n";
  s += "HERE\x1b"
       "7";
  for (int i = 0; i < 3; ++i) s += "\r\n" + std::string(30, 'p' + i);
  return s +
         "\x1b"
         "8\r\x1b[2C";
}

TEST(Resize, ReflowKeepsTheCursorOnItsContent) {
  for (auto [from, to] : {std::pair{20u, 8u}, std::pair{8u, 20u}, std::pair{20u, 45u}}) {
    Terminal t = fed(from, 30, around_the_cursor());
    terminal_resize(t, to, 30);
    const TerminalCursor c = terminal_cursor(t);
    const std::string row = std::string(screen_lines(t)).substr(0);
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t nl; (nl = row.find('\n', start)) != std::string::npos; start = nl + 1)
      rows.push_back(row.substr(start, nl - start));
    rows.push_back(row.substr(start));
    ASSERT_LT(c.row, rows.size());
    EXPECT_EQ(rows[c.row].substr(0, 4), "HERE") << from << " -> " << to;
    EXPECT_EQ(c.col, 2u);
  }
}

TEST(Resize, ReflowBelowTheCursorWithScrollBack) {
  // Lines below the cursor are joined on widening while scroll-back exists:
  // the screen moves down over them and the cursor must follow its row.
  std::string s;
  for (int i = 0; i < 40; ++i) s += "old " + std::to_string(i) + "\r\n";
  s += "HERE\r\n";
  for (int i = 0; i < 3; ++i) s += std::string(15, 'w') + "\r\n";
  s += "\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A";  // back up to HERE
  Terminal t = fed(10, 10, s);
  ASSERT_EQ(testing::screen_cell(t, terminal_cursor(t).row, 0).code_point(), 'H');
  terminal_resize(t, 20, 10);
  EXPECT_EQ(testing::screen_cell(t, terminal_cursor(t).row, 0).code_point(), 'H');
  terminal_resize(t, 6, 10);
  EXPECT_EQ(testing::screen_cell(t, terminal_cursor(t).row, 0).code_point(), 'H');
}

TEST(Resize, NarrowAndBackRestoresTheText) {
  const char* names[] = {"ascii.txt", "wrap.txt", "rt_wraps.txt", "rt_wide.txt", "cjk.txt"};
  for (const char* name : names) {
    for (auto [cols, narrow] : {std::pair{80u, 37u}, std::pair{40u, 13u}}) {
      // The cursor on a row of its own, below the wrapped rows.
      std::string bytes = fixture(name) + "\r\n";
      Terminal t = fed(cols, 12, bytes);
      const std::string before = screen_lines(t);
      terminal_resize(t, narrow, 12);
      terminal_resize(t, cols, 12);
      EXPECT_EQ(screen_lines(t), before) << name << " " << cols << " -> " << narrow;
    }
  }
}

TEST(Resize, FullStoreNeverGrowsPastItsCapacity) {
  Terminal t = terminal_new(100, 10);
  std::string line(250, 'z');
  for (int i = 0; i < 5200; ++i) terminal_process(t, line.substr(0, 80 + i % 150) + "\r\n");
  ASSERT_EQ(t.primary.lines.count(), t.primary.lines.capacity());
  terminal_resize(t, 30, 10);
  EXPECT_LE(t.primary.lines.count(), t.primary.lines.capacity());
  EXPECT_EQ(t.primary.lines.count(), size_t{t.primary.scroll_back} + 10);
  EXPECT_LE(terminal_cursor(t).row, 9u);
  terminal_resize(t, 200, 4);
  EXPECT_EQ(t.primary.lines.capacity(), 5004u);
  EXPECT_EQ(t.primary.lines.count(), size_t{t.primary.scroll_back} + 4);
}

TEST(Resize, AlternateScreenIsCutNotReflowed) {
  Terminal t = fed(10, 4, "\x1b[?1049h" + std::string(15, 'q') + "\x1b[H");
  terminal_resize(t, 5, 4);
  EXPECT_EQ(screen_lines(t), "qqqqq\nqqqqq\n\n");
  terminal_resize(t, 10, 6);
  EXPECT_EQ(t.alternate.lines.count(), 6u);
  terminal_process(t, "\x1b[?1049l");
  EXPECT_EQ(t.alternate.lines.capacity(), 6u);
  terminal_process(t, "\x1b[?1049h");
  for (int i = 0; i < 20; ++i) terminal_process(t, "x\r\n");
  EXPECT_EQ(t.alternate.scroll_back, 0u);  // the alternate screen never keeps scroll-back
}

}  // namespace
}  // namespace mossbank::term
