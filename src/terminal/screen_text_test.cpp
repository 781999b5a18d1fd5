#include <gtest/gtest.h>

#include "terminal/printing.h"
#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;

// Prints text in a pen set directly (the SGR sequences have tests of their own).
void print_in(Terminal& t, Pen pen, std::string_view text) {
  t.pen = pen;
  terminal_process(t, text);
}

constexpr Pen kDefault{};
constexpr Pen fg(uint32_t colour, uint32_t attrs = 0) { return Pen{0, 0, colour | attrs, 0}; }
constexpr Pen bg(uint32_t colour, uint32_t attrs = 0) { return Pen{0, 0, 0, colour | attrs}; }

TEST(ScreenText, Plain) {
  EXPECT_EQ(screen_lines(terminal_new(80, 24)), std::string(23, '\n'));
  EXPECT_EQ(screen_lines(fed(10, 1, "a  b")), "a  b");
  Terminal gap = fed(10, 1, "a");
  gap.primary.cursor_col = 4;
  terminal_process(gap, "b");
  EXPECT_EQ(screen_lines(gap), "a   b");
  EXPECT_EQ(screen_lines(fed(10, 2, "漢字x\r\ncafe\xCC\x81")), "漢字x\ncafe\xCC\x81");
  Terminal erased = fed(10, 1, "ab");
  fill_cells(screen_line(erased.primary, 0), 2, 10, bg(colour_palette(1)), false);
  EXPECT_EQ(screen_lines(erased), "ab");  // erased red cells are not content
}

TEST(ScreenText, Styled) {
  struct Case {
    const char* name;
    std::vector<std::pair<Pen, std::string>> runs;
    std::string want;
  };
  const Case cases[] = {
      {"colour then default",
       {{fg(colour_palette(1)), "x"}, {kDefault, "y"}},
       "\x1b[0;31mx\x1b[0my"},
      {"a row ending in colour is closed",
       {{kDefault, "a"}, {fg(colour_palette(2)), "b"}},
       "a\x1b[0;32mb\x1b[0m"},
      {"bright, indexed and direct colours",
       {{fg(colour_palette(9)), "a"},
        {fg(colour_indexed(196)), "b"},
        {bg(colour_rgb(1, 2, 3)), "c"},
        {bg(colour_palette(12)), "d"}},
       "\x1b[0;91ma\x1b[0;38;5;196mb\x1b[0;48;2;1;2;3mc\x1b[0;104md\x1b[0m"},
      {"grey reads as dim", {{fg(colour_palette(8)), "g"}}, "\x1b[0;2;90mg\x1b[0m"},
      {"dim and inverse, bold not shown",
       {{bg(0, kDim), "d"}, {fg(0, kInverse | kBold), "i"}, {Pen{0, 0, kBold, kItalic}, "b"}},
       "\x1b[0;2md\x1b[0;7mi\x1b[0mb"},
      {"same look, no new sequence",
       {{fg(colour_palette(1)), "ab"}, {fg(colour_palette(1), kBold), "c"}},
       "\x1b[0;31mabc\x1b[0m"},
  };
  for (const Case& c : cases) {
    Terminal t = terminal_new(20, 1);
    for (const auto& [pen, text] : c.runs) print_in(t, pen, text);
    EXPECT_EQ(screen_lines_styled(t), c.want) << c.name;
  }
}

TEST(ScreenText, Marked) {
  struct Case {
    const char* name;
    std::vector<std::pair<Pen, std::string>> runs;
    std::string want;
  };
  const Case cases[] = {
      {"inverse run", {{fg(0, kInverse), "a"}, {kDefault, "b"}}, "\x1b[0;7ma\x1b[0mb"},
      {"grey is faint", {{fg(colour_palette(8)), "a"}}, "\x1b[0;2ma\x1b[0m"},
      {"faint and inverse",
       {{Pen{0, 0, kInverse, kDim}, "a"}, {bg(0, kDim), "b"}},
       "\x1b[0;2;7ma\x1b[0;2mb\x1b[0m"},
      {"colours are not marked",
       {{fg(colour_palette(1)), "a"}, {bg(colour_palette(4)), "b"}},
       "ab"},
  };
  for (const Case& c : cases) {
    Terminal t = terminal_new(20, 1);
    for (const auto& [pen, text] : c.runs) print_in(t, pen, text);
    EXPECT_EQ(screen_lines_marked(t), c.want) << c.name;
  }
}

TEST(ScreenText, RowsOfTheActiveBufferOnly) {
  Terminal t = fed(5, 2, "one\r\ntwo\r\nthree");
  EXPECT_EQ(screen_lines(t), "two\nthree");
  EXPECT_EQ(screen_lines_marked(t), "two\nthree");
}

}  // namespace
}  // namespace mossbank::term
