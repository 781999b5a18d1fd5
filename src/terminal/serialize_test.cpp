#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;
using testing::fixture;
using testing::screen_row;

size_t occurrences(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

TEST(Serialize, SmallScreens) {
  struct Case {
    const char* name;
    uint32_t cols, rows;
    std::string in;
    std::string want;
  };
  const Case cases[] = {
      {"fresh", 80, 24, "", "\x1b[1;1H"},
      {"colour and reset", 80, 24, "\x1b[31mab\x1b[m", "\x1b[31mab\x1b[0m\x1b[1;3H"},
      {"gap of empty cells", 10, 2, "a\x1b[3Cb", "a\x1b[3Cb\x1b[1;6H"},
      {"gap in colour", 10, 2, "a\x1b[41m\x1b[3X\x1b[3Cb\x1b[m",
       "a\x1b[41m\x1b[3X\x1b[3Cb\x1b[0m\x1b[1;6H"},
      {"rows and the cursor below", 10, 3, "a\r\n\r\nb\x1b[2;4H",
       "a\r\n\r\nb\x1b[1A\x1b[2C\x1b[2;4H"},
      {"bold stays on when dim ends", 10, 1, "\x1b[1;2ma\x1b[22;1mb\x1b[m",
       "\x1b[1;2ma\x1b[22;1mb\x1b[0m\x1b[1;3H"},
      {"dim stays on when bold ends", 10, 1, "\x1b[1;2ma\x1b[22;2mb\x1b[m",
       "\x1b[1;2ma\x1b[22;2mb\x1b[0m\x1b[1;3H"},
      {"256 colours and RGB", 20, 1, "\x1b[38;5;208;48;2;1;2;3mx\x1b[m",
       "\x1b[38;5;208;48;2;1;2;3mx\x1b[0m\x1b[1;2H"},
      {"low 256-colour indexes as palette codes", 10, 1, "\x1b[38;5;9mx\x1b[m",
       "\x1b[91mx\x1b[0m\x1b[1;2H"},
      {"a linked cell counts as underlined", 10, 1, "\x1b]8;;http://a\x07x\x1b]8;;\x07y",
       "\x1b[4mx\x1b[0my\x1b[1;3H"},
      {"the pen is restored", 10, 1, "x\x1b[1;32m", "x\x1b[32;1m\x1b[1;2H"},
      {"cursor at the pending wrap", 4, 2, "abcd", "abcd\x1b[1;4Hd"},
      {"modes", 10, 1, "\x1b[?2004h\x1b[?1002h", "\x1b[1;1H\x1b[?2004h\x1b[?1002h"},
      {"every mode", 10, 1, "\x1b[?1;66;2004;6;45;1004h\x1b[4h\x1b[?7l\x1b[?9h",
       "\x1b[?6h\x1b[1;1H\x1b[?1h\x1b[?66h\x1b[?2004h\x1b[4h\x1b[?45h\x1b[?1004h\x1b[?7l\x1b[?9h"},
      {"origin mode: the region, origin, then the cursor from the region's top", 20, 8,
       "\x1b[3;6r\x1b[?6h\x1b[2;3Hx", "\r\n\r\n\r\n\x1b[2Cx\x1b[3;6r\x1b[?6h\x1b[2;4H"},
      {"the pending wrap after a region: the last character again", 4, 3,
       "\x1b[1;2r\x1b[31mabc\x1b[32md\x1b[m",
       "\x1b[31mabc\x1b[32md\x1b[0m\x1b[1;2r\x1b[1;4H\x1b[32md\x1b[0m"},
      {"a blank coloured row is filled", 6, 3, "\x1b[2;1H\x1b[44m\x1b[K\x1b[m\x1b[H",
       "\r\n\x1b[44m\x1b[6X\r\n\x1b[0m\x1b[2A\x1b"
       "7\x1b[2;1H\x1b[0;44m\x1b[6X\x1b"
       "8\x1b[1;1H"},
  };
  for (const Case& c : cases) {
    Terminal t = fed(c.cols, c.rows, c.in);
    std::string s = serialize(t, false);
    EXPECT_EQ(s, c.want) << c.name;
    EXPECT_EQ(s.find("\x1b[0X"), std::string::npos) << c.name;
  }
}

TEST(Serialize, AlternateScreenComesOnceAfterThePrimaryRows) {
  Terminal t = fed(20, 4, fixture("rt_alt.txt"));
  std::string s = serialize(t, true);
  EXPECT_EQ(occurrences(s, "\x1b[?1049h\x1b[H"), 1u);
  EXPECT_LT(s.find("second line"), s.find("\x1b[?1049h"));
  EXPECT_GT(s.find("top of the alt screen"), s.find("\x1b[?1049h"));
}

TEST(Serialize, Presentation) {
  EXPECT_EQ(serialize_presentation(terminal_new(10, 2)), "");
  Terminal t = fed(10, 2, "\x1b[5 q\x1b[?25l\x1b]2;t\x07");
  EXPECT_EQ(serialize_presentation(t), "\x1b[?25l\x1b[5 q\x1b]2;t\x07");
  Terminal u = fed(10, 2,
                   "\x1b[?1016h\x1b]2;a\x1b"
                   "b\x07");
  EXPECT_EQ(serialize_presentation(u), "\x1b[?1016h\x1b]2;a\x07");  // a lone ESC ends the title
  Terminal v = fed(10, 2,
                   "\x1b[?1006h\x1b]2;a\x7f"
                   "b\x07");
  EXPECT_EQ(serialize_presentation(v), "\x1b[?1006h\x1b]2;ab\x07");
}

// Everything the round trip must keep.
struct Seen {
  std::string plain, styled;
  uint32_t col, row;
  TerminalModes modes;
  std::vector<bool> wrapped;
  uint32_t region_top, region_bottom;
};

Seen seen(const Terminal& t) {
  Seen s{screen_lines(t),
         screen_lines_styled(t),
         terminal_cursor(t).col,
         terminal_cursor(t).row,
         t.modes,
         {},
         t.active().region_top,
         t.active().region_bottom};
  for (uint32_t r = 0; r < t.rows; ++r) s.wrapped.push_back(screen_row(t, r).wrapped);
  return s;
}

void expect_same(const Seen& a, const Seen& b, const std::string& what) {
  EXPECT_EQ(a.plain, b.plain) << what;
  EXPECT_EQ(a.styled, b.styled) << what;
  EXPECT_EQ(a.col, b.col) << what;
  EXPECT_EQ(a.row, b.row) << what;
  EXPECT_EQ(a.wrapped, b.wrapped) << what;
  const TerminalModes &m = a.modes, &n = b.modes;
  EXPECT_EQ(m.alternate_screen, n.alternate_screen) << what;
  EXPECT_EQ(m.cursor_keys_application, n.cursor_keys_application) << what;
  EXPECT_EQ(m.keypad_application, n.keypad_application) << what;
  EXPECT_EQ(m.bracketed_paste, n.bracketed_paste) << what;
  EXPECT_EQ(m.insert, n.insert) << what;
  EXPECT_EQ(m.origin, n.origin) << what;
  EXPECT_EQ(a.region_top, b.region_top) << what;
  EXPECT_EQ(a.region_bottom, b.region_bottom) << what;
  EXPECT_EQ(m.reverse_wrap, n.reverse_wrap) << what;
  EXPECT_EQ(m.focus_events, n.focus_events) << what;
  EXPECT_EQ(m.auto_wrap, n.auto_wrap) << what;
  EXPECT_EQ(m.mouse_tracking, n.mouse_tracking) << what;
}

TEST(Serialize, RoundTripGivesTheSameScreen) {
  const char* names[] = {"rt_colours.txt", "rt_wide.txt", "rt_wraps.txt", "rt_alt.txt",
                         "ascii.txt",      "wrap.txt",    "tab.txt",      "cjk.txt"};
  for (const char* name : names) {
    for (auto [cols, rows] : {std::pair{80u, 24u}, std::pair{20u, 6u}, std::pair{13u, 7u}}) {
      Terminal t = fed(cols, rows, fixture(name));
      for (bool screen_only : {true, false}) {
        Terminal copy = fed(cols, rows, serialize(t, screen_only));
        Seen want = seen(t);
        // The top row's link to the scroll-back above it is not on the screen.
        if (screen_only) want.wrapped[0] = false;
        expect_same(want, seen(copy),
                    std::string(name) + " at " + std::to_string(cols) + "x" + std::to_string(rows) +
                        (screen_only ? " screen" : " all"));
      }
    }
  }
}

// Screens the stream once got wrong: the screen text is checked, then the
// copy must show the same screen with the same cursor.
TEST(Serialize, RoundTripOfEdgeCases) {
  struct Case {
    const char* name;
    uint32_t cols, rows;
    std::string in;
    std::optional<std::pair<uint32_t, uint32_t>> resize;
    std::string text;
  };
  const Case cases[] = {
      {"narrowing cuts a wide character on the alternate screen", 20, 4,
       "\x1b[?1049habcdefghi中文xyz\r\nline2", std::pair{10u, 4u}, "abcdefghi\nline2\n\n"},
      {"narrowing cuts a wide character on the cursor's row", 20, 4, "abcdefghi中文xyz",
       std::pair{10u, 4u}, "abcdefghi\n\n\n"},
      {"ICH on a wide character's right half",
       10,
       3,
       "中文字符\x1b[1;2H\x1b[1@",
       {},
       "   文字符\n\n"},
      {"DECIC on a wide character's right half",
       10,
       3,
       "中文字符\x1b[1;2H\x1b[1'}",
       {},
       "   文字符\n\n"},
      {"without auto-wrap the last column is overwritten",
       10,
       3,
       "\x1b[?7l0123456789\x1b[?7hX",
       {},
       "012345678X\n\n"},
      {"without auto-wrap the cursor stays on the last column",
       10,
       3,
       "\x1b[?7l0123456789",
       {},
       "0123456789\n\n"},
      {"a byte-order mark at the start of a row",
       10,
       3,
       "a\r\n\xEF\xBB\xBFhello",
       {},
       "a\nhello\n"},
      {"a variation selector after a control",
       10,
       3,
       "a\x1b[m\xEF\xB8\x8F\r\n\xEF\xB8\x8F"
       "b",
       {},
       "a\xEF\xB8\x8F\nb\n"},
      {"origin mode", 20, 8, "\x1b[3;6r\x1b[?6h\x1b[2;3Hx", {}, "\n\n\n  x\n\n\n\n"},
      {"origin mode at the pending wrap",
       10,
       8,
       "\x1b[3;6r\x1b[?6h\x1b[2;1H0123456789",
       {},
       "\n\n\n0123456789\n\n\n\n"},
      {"a region at the pending wrap after a wide character",
       10,
       5,
       "\x1b[2;4r\x1b[2;1H01234567漢",
       {},
       "\n01234567漢\n\n\n"},
      {"the pending wrap above other rows",
       10,
       3,
       "\r\nbelow\x1b[H\x1b[41m0123456789\x1b[m",
       {},
       "0123456789\nbelow\n"},
  };
  for (const Case& c : cases) {
    Terminal t = fed(c.cols, c.rows, c.in);
    if (c.resize) terminal_resize(t, c.resize->first, c.resize->second);
    EXPECT_EQ(screen_lines(t), c.text) << c.name;
    for (bool screen_only : {true, false}) {
      Terminal copy = fed(t.cols, t.rows, serialize(t, screen_only));
      expect_same(seen(t), seen(copy),
                  std::string(c.name) + (screen_only ? " (screen)" : " (all)"));
    }
  }
}

TEST(Serialize, ScrollingInTheStreamDoesNotSpreadBackgrounds) {
  // More rows than the screen: the receiving terminal scrolls while it
  // reads the stream, and a scroll fills the new row with the background
  // in force at that moment.
  std::string in;
  for (int i = 0; i < 8; ++i) in += "row\x1b[44m \x1b[m\r\n";
  in += "abcdef\x1b[42mghij\x1b[mkl\r\n";  // a wrapped row in colour
  Terminal t = fed(10, 4, in);
  Terminal copy = fed(10, 4, serialize(t, false));
  EXPECT_EQ(screen_lines_styled(copy), screen_lines_styled(t));
  for (uint32_t r = 0; r < 4; ++r)
    for (uint32_t c = 0; c < 10; ++c)
      EXPECT_EQ(testing::screen_cell(copy, r, c).bg, testing::screen_cell(t, r, c).bg)
          << r << "," << c;
}

TEST(Serialize, SoftWrapsAreReproduced) {
  Terminal t = fed(10, 5, "abcdefghijklmnop\r\n漢字漢字漢字漢字漢字漢字");
  Terminal copy = fed(10, 5, serialize(t, true));
  EXPECT_EQ(screen_lines(copy), "abcdefghij\nklmnop\n漢字漢字漢\n字漢字漢字\n漢字");
  EXPECT_TRUE(screen_row(copy, 1).wrapped);
  EXPECT_FALSE(screen_row(copy, 2).wrapped);
  EXPECT_TRUE(screen_row(copy, 3).wrapped);
  EXPECT_TRUE(screen_row(copy, 4).wrapped);
  // A continuation that starts with an empty cell still wraps.
  Terminal gap = fed(10, 3, "abcdefghijkl\x1b[2;1H\x1b[1X");
  ASSERT_TRUE(screen_row(gap, 1).wrapped);
  Terminal gap_copy = fed(10, 3, serialize(gap, true));
  EXPECT_EQ(screen_lines(gap_copy), screen_lines(gap));
  EXPECT_TRUE(screen_row(gap_copy, 1).wrapped);
}

}  // namespace
}  // namespace mossbank::term
