#include "terminal/buffer.h"

#include <gtest/gtest.h>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;

TEST(Terminal, NewClampsItsSize) {
  Terminal t = terminal_new(1, 0);
  EXPECT_EQ(t.cols, 2u);
  EXPECT_EQ(t.rows, 1u);
  EXPECT_EQ(t.primary.lines.count(), 1u);
  EXPECT_EQ(t.primary.lines.capacity(), 5001u);
  EXPECT_EQ(t.alternate.lines.count(), 0u);
  EXPECT_TRUE(t.modes.auto_wrap);
  EXPECT_FALSE(t.replies.has_value());
  Terminal huge = terminal_new(100000, 100000);
  EXPECT_EQ(huge.cols, kMaxTerminalSide);
  EXPECT_EQ(huge.rows, kMaxTerminalSide);
}

TEST(Buffer, FullScrollBackDropsTheOldestLine) {
  Terminal t = terminal_new(10, 3);
  std::string bytes;
  for (int i = 0; i < 5010; ++i) bytes += "line " + std::to_string(i) + "\r\n";
  terminal_process(t, bytes);
  const Buffer& b = t.primary;
  EXPECT_EQ(b.scroll_back, 5000u);
  EXPECT_EQ(b.lines.count(), 5003u);
  // 5010 lines written, the cursor on the row after the last: the oldest
  // stored line is line 8.
  const Line* oldest = buffer_get_line(b, 0);
  ASSERT_NE(oldest, nullptr);
  EXPECT_EQ(cell_at(*oldest, 5).code_point(), '8');
  terminal_process(t, "more\r\n");
  EXPECT_EQ(b.scroll_back, 5000u);
  EXPECT_EQ(cell_at(*buffer_get_line(b, 0), 5).code_point(), '9');
}

TEST(Buffer, ScrollBackLinesAreFittedToTheirLength) {
  Terminal t = terminal_new(120, 3);
  std::string bytes;
  for (int i = 0; i < 50; ++i) bytes += "short\r\n";
  terminal_process(t, bytes);
  const Line* line = buffer_get_line(t.primary, 10);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->cells.size(), 5u);
  EXPECT_LT(line->cells.capacity(), 16u);
}

TEST(Buffer, RegionNotAtTheTopNeverAddsScrollBack) {
  Terminal t = terminal_new(10, 5);
  t.primary.region_top = 1;
  t.primary.region_bottom = 3;
  t.primary.cursor_row = 3;
  terminal_process(t, "a\nb\nc\n");
  EXPECT_EQ(t.primary.scroll_back, 0u);
  EXPECT_EQ(t.primary.lines.count(), 5u);
  // Rows below a region that starts at the top stay where they are.
  Terminal u = terminal_new(10, 4);
  u.primary.cursor_row = 3;
  terminal_process(u, "bottom");
  u.primary.region_bottom = 1;
  u.primary.cursor_row = 1;
  terminal_process(u, "\n\n");
  EXPECT_EQ(u.primary.scroll_back, 2u);
  EXPECT_EQ(testing::screen_cell(u, 3, 0).code_point(), 'b');
}

TEST(Buffer, TabStops) {
  Buffer b = buffer_new(true, 30, 2);
  EXPECT_EQ(next_tab_stop(b), 8u);
  b.cursor_col = 24;
  EXPECT_EQ(next_tab_stop(b), 29u);  // none left: the last column
  EXPECT_EQ(previous_tab_stop(b), 16u);
  b.cursor_col = 0;
  EXPECT_EQ(previous_tab_stop(b), 0u);
  b.cursor_col = 3;
  set_tab_stop(b);
  b.cursor_col = 1;
  EXPECT_EQ(next_tab_stop(b), 3u);
  // Widening continues every 8 columns from the last stop before the width.
  b.cols = 50;
  reset_tab_stops(b, true, 50);
  b.cursor_col = 40;
  EXPECT_EQ(next_tab_stop(b), 48u);
  b.cursor_col = 25;
  EXPECT_EQ(next_tab_stop(b), 32u);
}

}  // namespace
}  // namespace mossbank::term
