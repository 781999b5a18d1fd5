#include "terminal/csi.h"

#include <gtest/gtest.h>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;
using testing::screen_cell;
using testing::screen_row;

struct ScreenCase {
  const char* name;
  uint32_t cols, rows;
  std::string in;
  std::string text;
  uint32_t col, row;
};

void check_screens(const std::vector<ScreenCase>& cases) {
  for (const ScreenCase& c : cases) {
    Terminal t = fed(c.cols, c.rows, c.in);
    EXPECT_EQ(screen_lines(t), c.text) << c.name;
    EXPECT_EQ(terminal_cursor(t).col, c.col) << c.name;
    EXPECT_EQ(terminal_cursor(t).row, c.row) << c.name;
  }
}

const std::string kGrid = "abcde\r\nfghij\r\nklmno\r\npqrst";  // 5x4, cursor at (5, 3)

TEST(Csi, CursorMovement) {
  check_screens({
      {"CUP", 10, 5, "\x1b[3;4Hx", "\n\n   x\n\n", 4, 2},
      {"CUP defaults and zeros", 10, 5, "\x1b[3;4H\x1b[Hx\x1b[0;0Hy", "y\n\n\n\n", 1, 0},
      {"CUU stops at the region top", 10, 5, "\x1b[2;4r\x1b[4;1H\x1b[9Ax", "\nx\n\n\n", 1, 1},
      {"CUU above the region goes to row 0", 10, 5, "\x1b[3;4r\x1b[2;1H\x1b[9Ax", "x\n\n\n\n", 1,
       0},
      {"CUD stops at the region bottom", 10, 5, "\x1b[2;3r\x1b[1;1H\x1b[9Bx", "\n\nx\n\n", 1, 2},
      {"CUF, HPR and CUB", 10, 1, "\x1b[3Ca\x1b[2ab\x1b[9Dc", "c  a  b", 1, 0},
      {"CUF stops at the last column", 10, 1, "\x1b[99Cx", "         x", 10, 0},
      {"CNL and CPL", 10, 4, "ab\x1b[2Ec\x1b[Fd", "ab\nd\nc\n", 1, 1},
      {"CHA, HPA and VPA", 10, 3, "\x1b[5Ga\x1b[2`b\x1b[3dc", " b  a\n\n  c", 3, 2},
      {"VPR", 10, 3, "\x1b[2ex", "\n\nx", 1, 2},
      {"CHT and CBT", 30, 1, "\x1b[2Ia\x1b[Zb\x1b[2Zc", "        c       b", 9, 0},
      {"TBC", 30, 1, "\x1b[9G\x1b[g\r\ta\x1b[3g\r\tb",
       std::string(16, ' ') + "a" + std::string(12, ' ') + "b", 30, 0},
      {"origin mode homes to the region", 10, 5, "\x1b[2;5r\x1b[?6h\x1b[1;1Hx\x1b[3Gy",
       "\nx y\n\n\n", 3, 1},
      {"origin mode keeps the cursor in the region", 10, 5, "\x1b[2;3r\x1b[?6h\x1b[9;1Hx",
       "\n\nx\n\n", 1, 2},
      {"leaving origin mode homes", 10, 3, "\x1b[2;3r\x1b[?6h\x1b[?6lx", "x\n\n", 1, 0},
      {"DECSTBM ignored unless top < bottom", 10, 3, "\x1b[2;2r\x1b[3;3r\x1b[3;1H\n\nx", "\n\nx", 1,
       2},
      {"huge parameters", 10, 3, "\x1b[2147483647;2147483647Hx\x1b[2147483647dy", "\n\n         y",
       10, 2},
  });
}

TEST(Csi, Erasing) {
  check_screens({
      {"ED 0", 5, 4, kGrid + "\x1b[2;3H\x1b[J", "abcde\nfg\n\n", 2, 1},
      {"ED 1", 5, 4, kGrid + "\x1b[2;3H\x1b[1J", "\n   ij\nklmno\npqrst", 2, 1},
      {"ED 2", 5, 4, kGrid + "\x1b[2J", "\n\n\n", 5, 3},
      {"EL 0, 1, 2", 5, 4, kGrid + "\x1b[1;3H\x1b[K\x1b[2;3H\x1b[1K\x1b[3;3H\x1b[2K",
       "ab\n   ij\n\npqrst", 2, 2},
      {"ECH", 5, 1, "abcde\x1b[2G\x1b[2X", "a  de", 1, 0},
      {"ECH not past the row end", 5, 1, "abcde\x1b[4G\x1b[99X", "abc", 3, 0},
      {"EL at the pending wrap erases nothing", 5, 1, "abcde\x1b[K", "abcde", 5, 0},
      {"unknown modes do nothing", 5, 4, kGrid + "\x1b[7J\x1b[7K", "abcde\nfghij\nklmno\npqrst", 5,
       3},
  });
}

TEST(Csi, ErasedCellsTakeTheBackground) {
  Terminal t = fed(5, 1, "abcde\x1b[3G\x1b[41m\x1b[K\x1b[m");
  EXPECT_EQ(screen_lines(t), "ab");
  EXPECT_EQ(screen_cell(t, 0, 4).bg, colour_palette(1));
  EXPECT_EQ(screen_cell(t, 0, 4).fg, 0u);
}

TEST(Csi, ErasingClearsTheWrappedFlag) {
  Terminal t = fed(4, 3, "abcdefgh");
  ASSERT_TRUE(screen_row(t, 1).wrapped);
  terminal_process(t, "\x1b[2;2H\x1b[K");
  EXPECT_TRUE(screen_row(t, 1).wrapped);  // only from column 0
  terminal_process(t, "\x1b[2;1H\x1b[K");
  EXPECT_FALSE(screen_row(t, 1).wrapped);
  Terminal u = fed(4, 3, "abcdefgh");
  terminal_process(u, "\x1b[1;4H\x1b[1J");  // through the last column: the next row too
  EXPECT_FALSE(screen_row(u, 1).wrapped);
}

TEST(Csi, SelectiveErasingKeepsProtectedCells) {
  check_screens({
      {"DECSEL", 6, 1, "a\x1b[1\"qbc\x1b[0\"qd\x1b[?2K", " bc", 4, 0},
      {"DECSED", 6, 2, "\x1b[1\"qp\x1b[2\"qa\r\nbc\x1b[?2J", "p\n", 2, 1},
      {"plain EL erases everything", 6, 1, "\x1b[1\"qab\x1b[2K", "", 2, 0},
  });
}

TEST(Csi, EraseScrollBack) {
  Terminal t = terminal_new(5, 3);
  for (int i = 0; i < 20; ++i) terminal_process(t, "line\r\n");
  terminal_process(t,
                   "\x1b[2;3H\x1b"
                   "7\x1b[3J");
  EXPECT_EQ(t.primary.scroll_back, 0u);
  EXPECT_EQ(t.primary.lines.count(), 3u);
  EXPECT_EQ(screen_lines(t), "line\nline\n");
  terminal_process(t,
                   "\x1b[H\x1b"
                   "8x");  // the saved cursor is still on its row
  EXPECT_EQ(terminal_cursor(t).row, 1u);
  EXPECT_EQ(terminal_cursor(t).col, 3u);
}

TEST(Csi, InsertDeleteAndScroll) {
  check_screens({
      {"ICH", 5, 1, "abcde\x1b[2G\x1b[2@", "a  bc", 1, 0},
      {"DCH", 5, 1, "abcde\x1b[2G\x1b[2P", "ade", 1, 0},
      {"IL", 5, 4, kGrid + "\x1b[2;3H\x1b[L", "abcde\n\nfghij\nklmno", 0, 1},
      {"DL", 5, 4, kGrid + "\x1b[2;3H\x1b[2M", "abcde\npqrst\n\n", 0, 1},
      {"IL outside the region does nothing", 5, 4, kGrid + "\x1b[1;2r\x1b[4;1H\x1b[L",
       "abcde\nfghij\nklmno\npqrst", 0, 3},
      {"IL inside the region stays inside", 5, 4, kGrid + "\x1b[1;2r\x1b[1;1H\x1b[9L",
       "\n\nklmno\npqrst", 0, 0},
      {"SU", 5, 4, kGrid + "\x1b[S", "fghij\nklmno\npqrst\n", 5, 3},
      {"SU in a region", 5, 4, kGrid + "\x1b[2;3r\x1b[2S", "abcde\n\n\npqrst", 0, 0},
      {"SD", 5, 4, kGrid + "\x1b[2T", "\n\nabcde\nfghij", 5, 3},
      {"SL and SR", 5, 2, "abcde\r\nfghij\x1b[2 @", "cde\nhij", 5, 1},
      {"SR", 5, 2, "abcde\r\nfghij\x1b[ A", " abcd\n fghi", 5, 1},
      {"DECIC and DECDC", 5, 2, "abcde\r\nfghij\x1b[3G\x1b['}\x1b[2'~", "abd\nfgi", 2, 1},
      {"REP", 10, 1, "ab\x1b[3b", "abbbb", 5, 0},
      {"REP of a wide character", 10, 1, "漢\x1b[2b", "漢漢漢", 6, 0},
      {"REP only right after printing", 10, 1, "a\r\x1b[3b", "a", 0, 0},
      {"REP of combining text", 10, 1, "e\xCC\x81\x1b[b",
       "e\xCC\x81"
       "e\xCC\x81",
       2, 0},
  });
}

TEST(Csi, ScrollingMakesNoScrollBack) {
  Terminal t = fed(5, 4, kGrid + "\x1b[3S");
  EXPECT_EQ(t.primary.scroll_back, 0u);
  EXPECT_EQ(t.primary.lines.count(), 4u);
}

TEST(Csi, Sgr) {
  struct Case {
    const char* in;
    Pen want;
  };
  const Case cases[] = {
      {"\x1b[38;5;196m", Pen{0, 0, colour_indexed(196), 0}},
      {"\x1b[38:2::10:20:30m", Pen{0, 0, colour_rgb(10, 20, 30), 0}},
      {"\x1b[38;2;10;20;30;1m", Pen{0, 0, colour_rgb(10, 20, 30) | kBold, 0}},
      {"\x1b[48:5:17;58:2::1:2:3m", Pen{colour_rgb(1, 2, 3), 0, 0, colour_indexed(17)}},
      {"\x1b[38;2;300;20;30m", Pen{0, 0, colour_rgb(300 & 0xFF, 20, 30), 0}},
      {"\x1b[38;7;1m", Pen{0, 0, kBold, 0}},  // an unknown kind leaves the colour
      {"\x1b[31;42;91;103m", Pen{0, 0, colour_palette(9), colour_palette(11)}},
      {"\x1b[1;2;3;5;7;8;9;53m",
       Pen{0, 0, kBold | kBlink | kInverse | kHidden | kStrike, kDim | kItalic | kOverline}},
      {"\x1b[1;2;3;5;7;8;9;53;22;23;25;27;28;29;55m", Pen{}},
      {"\x1b[4:3m", Pen{3u << kUnderlineStyleShift, 0, kUnderline, kHasExtras}},
      {"\x1b[4:3;4:0m", Pen{}},
      {"\x1b[4:9m", Pen{1u << kUnderlineStyleShift, 0, kUnderline, kHasExtras}},
      {"\x1b[21m", Pen{2u << kUnderlineStyleShift, 0, kUnderline, kHasExtras}},
      {"\x1b[4;24m", Pen{}},
      {"\x1b[59m", Pen{kColourMask, 0, 0, 0}},
      {"\x1b[31;1;39m", Pen{0, 0, kBold, 0}},
      {"\x1b[31;4;0m", Pen{}},
      {"\x1b[31m\x1b[m", Pen{}},
  };
  for (const Case& c : cases) {
    Terminal t = fed(10, 1, c.in);
    EXPECT_EQ(t.pen, c.want) << ::testing::PrintToString(std::string(c.in));
  }
}

// Each code that ends an attribute ends that one and no other.
TEST(Csi, SgrEndsOneAttributeAtATime) {
  constexpr uint32_t kAllFg = kBold | kBlink | kInverse | kHidden | kStrike;
  constexpr uint32_t kAllBg = kDim | kItalic | kOverline;
  struct Case {
    const char* code;
    uint32_t fg_left;
    uint32_t bg_left;
  };
  const Case cases[] = {
      {"22", kAllFg & ~kBold, kAllBg & ~kDim},
      {"23", kAllFg, kAllBg & ~kItalic},
      {"25", kAllFg & ~kBlink, kAllBg},
      {"27", kAllFg & ~kInverse, kAllBg},
      {"28", kAllFg & ~kHidden, kAllBg},
      {"29", kAllFg & ~kStrike, kAllBg},
      {"55", kAllFg, kAllBg & ~kOverline},
      {"6", kAllFg, kAllBg},  // rapid blink is not kept
      {"54", kAllFg, kAllBg},
  };
  for (const Case& c : cases) {
    Terminal t = fed(10, 1, std::string("\x1b[1;2;3;5;7;8;9;53m\x1b[") + c.code + "m");
    EXPECT_EQ(t.pen, (Pen{0, 0, c.fg_left, c.bg_left})) << c.code;
  }
}

TEST(Csi, SgrResetKeepsTheLink) {
  Terminal t = fed(10, 1, "\x1b]8;;http://x\x07\x1b[1;4m\x1b[0m");
  EXPECT_NE(t.pen.link, 0u);
  EXPECT_EQ(t.pen.bg, kHasExtras);
  EXPECT_EQ(t.pen.fg, 0u);
}

TEST(Csi, AlternateScreen) {
  Terminal t = fed(10, 3, "one\r\ntwo\x1b[?1049h");
  EXPECT_TRUE(t.modes.alternate_screen);
  EXPECT_EQ(screen_lines(t), "\n\n");
  terminal_process(t, "\x1b[Halt\x1b[?1049l");
  EXPECT_FALSE(t.modes.alternate_screen);
  EXPECT_EQ(screen_lines(t), "one\ntwo\n");
  EXPECT_EQ(terminal_cursor(t).col, 3u);
  EXPECT_EQ(terminal_cursor(t).row, 1u);
  EXPECT_EQ(t.alternate.lines.count(), 0u);
  // 47 keeps the cursor where the alternate screen left it.
  terminal_process(t, "\x1b[?47h\x1b[3;5H\x1b[?47l");
  EXPECT_EQ(terminal_cursor(t).row, 2u);
  // The alternate screen is filled in the current background.
  Terminal u = fed(4, 2, "\x1b[44m\x1b[?1049h");
  EXPECT_EQ(screen_cell(u, 1, 3).bg, colour_palette(4));
}

TEST(Csi, Modes) {
  Terminal t =
      fed(10, 2, "\x1b[4;20h\x1b[?1;7;12;45;66;1000;1004;1006;2004;2026h\x1b[?25l\x1b[5 q");
  const TerminalModes& m = t.modes;
  EXPECT_TRUE(m.insert && m.newline && m.cursor_keys_application && m.auto_wrap && m.cursor_blink &&
              m.reverse_wrap && m.keypad_application && m.focus_events && m.bracketed_paste &&
              m.synchronized_output && m.cursor_hidden);
  EXPECT_EQ(m.mouse_tracking, MouseTracking::normal);
  EXPECT_EQ(m.mouse_encoding, MouseEncoding::sgr);
  EXPECT_EQ(t.presentation.mouse_encoding_mode, 1006u);
  EXPECT_EQ(t.presentation.cursor_style, 5u);
  EXPECT_TRUE(t.presentation.cursor_hidden);
  terminal_process(t, "\x1b[?1006l\x1b[?1003h\x1b[?7l");
  EXPECT_FALSE(t.presentation.mouse_encoding_mode.has_value());
  EXPECT_EQ(m.mouse_tracking, MouseTracking::any_event);
  EXPECT_FALSE(m.auto_wrap);
  terminal_process(t, "\x1b[!p");  // soft reset
  EXPECT_FALSE(m.insert || m.cursor_keys_application || m.keypad_application || m.bracketed_paste ||
               m.reverse_wrap || m.focus_events || m.synchronized_output || m.cursor_hidden);
  EXPECT_TRUE(m.auto_wrap && m.newline && m.cursor_blink);
  EXPECT_EQ(m.mouse_tracking, MouseTracking::any_event);
  EXPECT_EQ(t.presentation.cursor_style, 0u);
}

TEST(Csi, RepliesByteExact) {
  struct Case {
    const char* in;
    std::string want;
  };
  const Case cases[] = {
      {"\x1b[c", "\x1b[?1;2c"},
      {"\x1b[0c", "\x1b[?1;2c"},
      {"\x1b[1c", ""},
      {"\x1b[>c", "\x1b[>0;276;0c"},
      {"\x1b[>0c", "\x1b[>0;276;0c"},
      {"\x1b[5n", "\x1b[0n"},
      {"\x1b[3;4H\x1b[6n", "\x1b[3;4R"},
      {"\x1b[3;4H\x1b[?6n", "\x1b[?3;4R"},
      {"\x1b[80G\x1b[Cx\x1b[6n", "\x1b[1;81R"},            // the pending wrap
      {"\x1b[?7l\x1b[80Gxy\x1b[6n", "\x1b[1;80R"},         // no pending wrap without auto-wrap
      {"\x1b[2;5r\x1b[?6h\x1b[2;3H\x1b[6n", "\x1b[3;3R"},  // screen rows in origin mode
      {"\x1b[2$p\x1b[4$p\x1b[12$p\x1b[20$p\x1b[99$p",
       "\x1b[2;4$y\x1b[4;2$y\x1b[12;3$y\x1b[20;2$y\x1b[99;0$y"},
      {"\x1b[4h\x1b[4$p", "\x1b[4;1$y"},
      {"\x1b[?25$p", "\x1b[?25;1$y"},
      {"\x1b[?25l\x1b[?25$p", "\x1b[?25;2$y"},
      {"\x1b[?8$p\x1b[?67$p\x1b[?1005$p\x1b[?1015$p\x1b[?1048$p\x1b[?5$p",
       "\x1b[?8;3$y\x1b[?67;4$y\x1b[?1005;4$y\x1b[?1015;4$y\x1b[?1048;1$y\x1b[?5;0$y"},
      {"\x1b[?1002h\x1b[?1000$p\x1b[?1002$p\x1b[?9$p", "\x1b[?1000;2$y\x1b[?1002;1$y\x1b[?9;2$y"},
      {"\x1b[?1049h\x1b[?47$p\x1b[?1049$p", "\x1b[?47;1$y\x1b[?1049;1$y"},
      {"\x1b[?1016h\x1b[?1016$p\x1b[?1006$p", "\x1b[?1016;1$y\x1b[?1006;2$y"},
      {"\x1b[?7l\x1b[?7$p\x1b[?2004$p", "\x1b[?7;2$y\x1b[?2004;2$y"},
      // The one-flag modes: each reports its own field, not a neighbour's.
      {"\x1b[?1h\x1b[?45h\x1b[?1004h\x1b[?2026h"
       "\x1b[?1$p\x1b[?12$p\x1b[?45$p\x1b[?66$p\x1b[?1004$p\x1b[?2004$p\x1b[?2026$p",
       "\x1b[?1;1$y\x1b[?12;2$y\x1b[?45;1$y\x1b[?66;2$y\x1b[?1004;1$y\x1b[?2004;2$y"
       "\x1b[?2026;1$y"},
      {"\x1b[?12h\x1b[?66h\x1b[?2004h"
       "\x1b[?1$p\x1b[?12$p\x1b[?45$p\x1b[?66$p\x1b[?1004$p\x1b[?2004$p\x1b[?2026$p",
       "\x1b[?1;2$y\x1b[?12;1$y\x1b[?45;2$y\x1b[?66;1$y\x1b[?1004;2$y\x1b[?2004;1$y"
       "\x1b[?2026;2$y"},
      {"\x1b[?9h\x1b[?9$p\x1b[?1003$p\x1b[?1003h\x1b[?1003$p\x1b[?9$p",
       "\x1b[?9;1$y\x1b[?1003;2$y\x1b[?1003;1$y\x1b[?9;2$y"},
  };
  for (const Case& c : cases) {
    Terminal t = terminal_new(80, 24);
    terminal_capture_replies(t);
    terminal_process(t, c.in);
    EXPECT_EQ(terminal_take_replies(t), c.want) << ::testing::PrintToString(std::string(c.in));
    terminal_process(t, c.in);  // capture is off again
    EXPECT_FALSE(t.replies.has_value());
  }
}

}  // namespace
}  // namespace mossbank::term
