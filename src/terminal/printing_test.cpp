#include "terminal/printing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;
using testing::screen_cell;
using testing::screen_row;

std::string rows_of(const Terminal& t) { return screen_lines(t); }

struct Case {
  const char* name;
  uint32_t cols, rows;
  std::string in;
  std::string text;
  uint32_t col, row;
};

TEST(Printing, ScreensAndCursors) {
  const std::string a80(80, 'a');
  const Case cases[] = {
      {"80 characters leave a pending wrap", 80, 3, a80, a80 + "\n\n", 80, 0},
      {"the 81st wraps", 80, 3, a80 + "b", a80 + "\nb\n", 1, 1},
      {"a wide character at the last column wraps", 80, 3, std::string(79, 'a') + "漢",
       std::string(79, 'a') + "\n漢\n", 2, 1},
      {"combining mark joins its base", 10, 1, "e\xCC\x81x", "e\xCC\x81x", 2, 0},
      {"a mark after a control joins the character before the cursor", 10, 1, "e\x1b[m\xCC\x81x",
       "e\xCC\x81x", 2, 0},
      {"mark on a wide character", 10, 1, "漢\xCC\x81x", "漢\xCC\x81x", 3, 0},
      {"DEC special graphics", 10, 1, "\x1b(0qx\x1b(Bq", "─│q", 3, 0},
      {"G1 shifted in and out", 10, 1, "\x1b)0\x0eq\x0fq", "─q", 2, 0},
      {"United Kingdom set", 10, 1, "\x1b(A#\x1b(B#", "£#", 2, 0},
      {"unknown final keeps the set", 10, 1, "\x1b(0\x1b(`q", "─", 1, 0},
      {"ESC % G returns to ASCII", 10, 1, "\x1b(0\x1b%Gq", "q", 1, 0},
      {"BS at the pending wrap", 10, 1, "0123456789\x08x", "01234567x9", 9, 0},
      {"HT to the next stop, then the last column", 20, 1, "a\tb\t\tc", "a       b          c", 20,
       0},
      {"CR LF", 10, 3, "ab\r\ncd", "ab\ncd\n", 2, 1},
      {"LF keeps the column, VT and FF too", 10, 4,
       "ab\ncd\x0b"
       "e\x0c"
       "f",
       "ab\n  cd\n    e\n     f", 6, 3},
      {"LF at the pending wrap", 4, 3, "abcd\nx", "abcd\n   x\n", 4, 1},
      {"overwriting a wide first half blanks its spacer", 10, 1, "漢\ra", "a", 1, 0},
      {"overwriting a spacer blanks the first half", 10, 1,
       "漢\x08"
       "b",
       " b", 2, 0},
      {"ESC D at the bottom scrolls", 10, 2,
       "a\r\nb\x1b"
       "Dc",
       "b\n c", 2, 1},
      {"ESC E is CR and index", 10, 2,
       "a\x1b"
       "Eb",
       "a\nb", 1, 1},
      {"ESC M at the top inserts a line", 10, 2, "a\x1bMb", " b\na", 2, 0},
      {"ESC 8 without ESC 7 goes home", 10, 2,
       "ab\r\ncd\x1b"
       "8x",
       "xb\ncd", 1, 0},
      {"ESC 7 and ESC 8", 10, 2,
       "ab\x1b"
       "7\r\ncd\x1b"
       "8x",
       "abx\ncd", 3, 0},
      {"a zero-width character at the start of a row is dropped", 10, 1,
       "a\r\xE2\x80\x8B"
       "b",
       "b", 1, 0},
      {"DECALN fills the screen", 3, 2, "ab\x1b#8", "EEE\nEEE", 0, 0},
      {"C1 NEL", 10, 2,
       "ab\xC2\x85"
       "c",
       "ab\nc", 1, 1},
      {"REP-free print of U+FFFD for a lone continuation byte", 10, 1,
       "a\x80"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       3, 0},
  };
  for (const Case& c : cases) {
    Terminal t = fed(c.cols, c.rows, c.in);
    EXPECT_EQ(rows_of(t), c.text) << c.name;
    TerminalCursor cur = terminal_cursor(t);
    EXPECT_EQ(cur.col, c.col) << c.name;
    EXPECT_EQ(cur.row, c.row) << c.name;
  }
}

TEST(Printing, WrapMarksTheContinuationRow) {
  Terminal t = fed(4, 3, "abcdefghij");
  EXPECT_FALSE(screen_row(t, 0).wrapped);
  EXPECT_TRUE(screen_row(t, 1).wrapped);
  EXPECT_TRUE(screen_row(t, 2).wrapped);
  terminal_process(t, "\r\nx");  // the scrolled-in row after a line feed is not
  EXPECT_FALSE(screen_row(t, 2).wrapped);
}

TEST(Printing, AutoWrapOff) {
  Terminal t = terminal_new(5, 2);
  t.modes.auto_wrap = false;
  terminal_process(t, "abcdefg");
  EXPECT_EQ(rows_of(t), "abcdg\n");
  terminal_process(t, "\r1234漢");  // a wide character that does not fit is dropped
  EXPECT_EQ(rows_of(t), "1234g\n");
}

TEST(Printing, WithoutAutoWrapTheCursorStaysOnThePrintedLastColumn) {
  struct ReadsCase {
    const char* name;
    std::vector<std::string> reads;  // fed one after another
    std::string text;
    uint32_t col;
  };
  const ReadsCase cases[] = {
      {"the last column printed", {"\x1b[?7l0123456789"}, "0123456789", 9},
      {"the next character overwrites it", {"\x1b[?7l0123456789\x1b[?7hX"}, "012345678X", 10},
      {"a mark joins the character in the last column",
       {"\x1b[?7l0123456789\xCC\x81"},
       "0123456789\xCC\x81",
       9},
      {"... also in the next read", {"\x1b[?7l0123456789", "\xCC\x81"}, "0123456789\xCC\x81", 9},
      {"REP repeats the character in the last column",
       {"\x1b[?7l012345678Z\x1b[b"},
       "012345678Z",
       9},
      {"a wide character in the last two columns stays whole",
       {"\x1b[?7l01234567漢", "\xCC\x81"},
       "01234567漢\xCC\x81",
       9},
      {"a narrow one over its spacer blanks it", {"\x1b[?7l01234567漢", "x"}, "01234567 x", 9},
      {"a wide one that does not fit is dropped", {"\x1b[?7l0123456789", "漢"}, "0123456789", 9},
  };
  for (const ReadsCase& c : cases) {
    Terminal t = terminal_new(10, 1);
    for (const std::string& read : c.reads) terminal_process(t, read);
    EXPECT_EQ(rows_of(t), c.text) << c.name;
    EXPECT_EQ(terminal_cursor(t).col, c.col) << c.name;
  }
}

TEST(Printing, ZeroWidthCharactersJoinTheCharacterBeforeTheCursor) {
  const Case cases[] = {
      {"a byte-order mark at the start of a row is dropped", 10, 2, "a\r\n\xEF\xBB\xBFhello",
       "a\nhello", 5, 1},
      {"a variation selector after a control joins the character before", 10, 1,
       "a\x1b[m\xEF\xB8\x8F"
       "b",
       "a\xEF\xB8\x8F"
       "b",
       2, 0},
      {"... a wide one through its spacer", 10, 1,
       "漢\x1b[m\xE2\x80\x8D"
       "b",
       "漢\xE2\x80\x8D"
       "b",
       3, 0},
      {"... and is dropped after a control at the start of a row", 10, 1,
       "a\r\xEF\xB8\x8F"
       "b",
       "b", 1, 0},
      {"nothing in the cell before the cursor: dropped", 10, 1, "ab\x1b[3C\xE2\x80\x8BX", "ab   X",
       6, 0},
      {"REP repeats the joined text", 10, 1, "a\x1b[m\xE2\x80\x8B\x1b[2b",
       "a\xE2\x80\x8B"
       "a\xE2\x80\x8B"
       "a\xE2\x80\x8B",
       3, 0},
  };
  for (const Case& c : cases) {
    Terminal t = fed(c.cols, c.rows, c.in);
    EXPECT_EQ(rows_of(t), c.text) << c.name;
    EXPECT_EQ(terminal_cursor(t).col, c.col) << c.name;
    EXPECT_EQ(terminal_cursor(t).row, c.row) << c.name;
    // No cell of its own: every stored cell is a character, a spacer or a blank.
    const Line& row = screen_row(t, c.row);
    for (uint32_t col = 0; col < row.cells.size(); ++col)
      EXPECT_FALSE(row.cells[col].is_spacer() && row.cells[col].has_content())
          << c.name << " column " << col;
  }
}

TEST(Printing, InsertModeShiftsTheRow) {
  Terminal t = terminal_new(6, 1);
  terminal_process(t, "abcd漢\r");
  t.modes.insert = true;
  terminal_process(t, "x");
  EXPECT_EQ(rows_of(t), "xabcd");  // the wide character pushed past the edge is gone
}

TEST(Printing, CombiningCellsAreCapped) {
  std::string in = "e";
  for (int i = 0; i < 200; ++i) in += "\xCC\x81";
  Terminal t = fed(10, 1, in + "x");
  std::string text = styled_cell_at(screen_row(t, 0), 0).text;
  size_t code_points = 0;
  for (char c : text) code_points += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  EXPECT_EQ(code_points, kMaxCellCodePoints);
  EXPECT_EQ(screen_cell(t, 0, 1).code_point(), 'x');
}

TEST(Printing, ZeroWidthAtThePendingWrapJoinsTheLastColumn) {
  Terminal t = fed(5, 2,
                   "abcde\x1b"
                   "7\xE2\x80\x8B");
  EXPECT_EQ(terminal_cursor(t).col, 5u);
  terminal_process(t, "f");
  EXPECT_EQ(rows_of(t), "abcde\xE2\x80\x8B\nf");
  EXPECT_EQ(terminal_cursor(t).col, 1u);
}

TEST(Printing, ScreenAlignmentWithALinkedPenReadsNoExtras) {
  Terminal t = terminal_new(4, 2);
  t.pen.link = 3;
  t.pen.bg |= kHasExtras;
  terminal_process(t, "\x1b#8");
  StyledCell s = styled_cell_at(screen_row(t, 1), 2);
  EXPECT_EQ(s.link, 0u);
  EXPECT_EQ(s.underline, 0u);
  EXPECT_EQ(s.word0 & kCodePointMask, 'E');
  EXPECT_EQ(screen_lines_styled(t), "EEEE\nEEEE");
}

TEST(Printing, ReverseWrapBackspacesOntoTheRowAbove) {
  Terminal t = terminal_new(5, 3);
  t.modes.reverse_wrap = true;
  terminal_process(t, "abcdefg\x08\x08\x08");
  EXPECT_EQ(terminal_cursor(t).row, 0u);
  EXPECT_EQ(terminal_cursor(t).col, 4u);
  EXPECT_FALSE(screen_row(t, 1).wrapped);
}

TEST(Printing, FullResetKeepsTitlesAndParser) {
  Terminal t = fed(10, 2,
                   "\x1b]2;title\x07"
                   "abc\x1b(0");
  t.modes.cursor_hidden = true;
  t.modes.bracketed_paste = true;
  terminal_process(t,
                   "\x1b"
                   "c\x1b]2;n");  // the reset runs while a later OSC is unread
  EXPECT_EQ(t.title, "title");
  EXPECT_EQ(rows_of(t), "\n");
  EXPECT_TRUE(t.modes.cursor_hidden);
  EXPECT_FALSE(t.modes.bracketed_paste);
  EXPECT_EQ(t.active_charset, -1);
  terminal_process(t, "ew\x07q");
  EXPECT_EQ(t.title, "new");
  EXPECT_EQ(rows_of(t), "q\n");
}

}  // namespace
}  // namespace mossbank::term
