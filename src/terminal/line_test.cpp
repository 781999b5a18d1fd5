#include "terminal/line.h"

#include <gtest/gtest.h>

namespace mossbank::term {
namespace {

Cell narrow(uint32_t cp) { return Cell{pack_word0(cp, 1), 0, 0}; }

// A line of `width` columns holding `text` (ASCII, '#' marks a wide
// character's first half and '_' its spacer).
Line line_of(uint32_t width, const std::string& text) {
  Line line = blank_line(width, Pen{}, false);
  for (uint32_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#') {
      store_cell(line, i, Cell{pack_word0(0x4E00, 2), 0, 0});
    } else if (text[i] == '_') {
      store_cell(line, i, Cell{pack_word0(0, 0), 0, 0});
    } else if (text[i] != ' ') {
      store_cell(line, i, narrow(static_cast<uint8_t>(text[i])));
    }
  }
  return line;
}

std::string shape(const Line& line) {
  std::string out;
  for (uint32_t c = 0; c < line.width; ++c) {
    Cell cell = cell_at(line, c);
    if (cell.is_wide()) {
      out += '#';
    } else if (cell.is_spacer()) {
      out += cell.code_point() ? '?' : '_';
    } else {
      out += cell.code_point() ? static_cast<char>(cell.code_point()) : ' ';
    }
  }
  return out;
}

TEST(Line, OnlyCellsUpToTheLastNonDefaultOneAreStored) {
  Line line = blank_line(10, Pen{}, false);
  store_cell(line, 5, kBlankCell);
  EXPECT_EQ(line.cells.size(), 0u);
  store_cell(line, 3, narrow('x'));
  EXPECT_EQ(line.cells.size(), 4u);
  store_cell(line, 3, kBlankCell);
  EXPECT_EQ(line.cells.size(), 0u);
  store_cell(line, 12, narrow('x'));  // past the width
  EXPECT_EQ(line.cells.size(), 0u);
  Pen red{0, 0, 0, colour_palette(1)};
  set_blank(line, 2, red);  // a coloured blank is content of the store
  EXPECT_EQ(line.cells.size(), 3u);
}

TEST(Line, EditsKeepWideCharactersWhole) {
  struct Case {
    const char* name;
    std::string before;
    void (*edit)(Line&);
    std::string after;
  };
  const Case cases[] = {
      {"insert pushes a wide character into the last column", "abcdefg#_",
       [](Line& l) { insert_blank_cells(l, 0, 1, Pen{}); }, " abcdefg "},
      {"insert at a spacer splits the wide character and leaves no spacer", "ab#_cd",
       [](Line& l) { insert_blank_cells(l, 3, 1, Pen{}); }, "ab   cd"},
      {"insert at a spacer, several blanks", "ab#_cd",
       [](Line& l) { insert_blank_cells(l, 3, 3, Pen{}); }, "ab     cd"},
      {"narrowing cuts a wide character at the new edge", "abcd#_e",
       [](Line& l) { set_line_width(l, 5, Pen{}); }, "abcd "},
      {"narrowing past the spacer keeps it whole", "abc#_e",
       [](Line& l) { set_line_width(l, 5, Pen{}); }, "abc#_"},
      {"delete the first half leaves no orphaned spacer", "ab#_cd",
       [](Line& l) { delete_cells(l, 2, 1, Pen{}); }, "ab cd     "},
      {"delete at the spacer blanks the first half", "ab#_cd",
       [](Line& l) { delete_cells(l, 3, 1, Pen{}); }, "ab cd     "},
      {"fill from a spacer blanks the first half", "ab#_cd",
       [](Line& l) { fill_cells(l, 3, 10, Pen{}, false); }, "ab        "},
      {"fill up to a first half blanks its spacer", "ab#_cd",
       [](Line& l) { fill_cells(l, 0, 3, Pen{}, false); }, "    cd"},
      {"delete more than the rest", "abcdef", [](Line& l) { delete_cells(l, 2, 50, Pen{}); },
       "ab        "},
  };
  for (const Case& c : cases) {
    Line line = line_of(c.before.size() == 9 ? 9 : 10, c.before);
    c.edit(line);
    std::string want = c.after;
    want.resize(line.width, ' ');
    EXPECT_EQ(shape(line), want) << c.name;
  }
}

TEST(Line, SelectiveFillKeepsProtectedCells) {
  Line line = blank_line(6, Pen{}, false);
  Pen prot{0, 0, 0, kProtected};
  for (uint32_t c = 0; c < 4; ++c) set_cell_packed(line, c, 'a' + c, 1, c % 2 ? prot : Pen{});
  fill_cells(line, 0, 6, Pen{}, true);
  EXPECT_EQ(shape(line), " b d  ");
  erase_line_cells(line, Pen{}, false);
  EXPECT_EQ(shape(line), "      ");
  EXPECT_TRUE(line.cells.empty());
}

TEST(Line, SideDataMovesWithItsCellAndGoesWithIt) {
  Line line = blank_line(8, Pen{}, false);
  StyledCell s;
  s.word0 = kHasText | 1u << kWidthShift;
  s.text = "e\xCC\x81";
  set_styled_cell(line, 2, s);
  Pen link{0, 7, 0, kHasExtras};
  set_cell_packed(line, 4, 'x', 1, link);
  insert_blank_cells(line, 0, 2, Pen{});
  EXPECT_EQ(styled_cell_at(line, 4).text, "e\xCC\x81");
  EXPECT_EQ(styled_cell_at(line, 6).link, 7u);
  delete_cells(line, 0, 3, Pen{});
  EXPECT_EQ(styled_cell_at(line, 1).text, "e\xCC\x81");
  EXPECT_EQ(styled_cell_at(line, 3).link, 7u);
  store_cell(line, 1, narrow('z'));  // overwriting drops the text
  EXPECT_FALSE(line.text.find(1).has_value());
  set_line_width(line, 3, Pen{});  // narrowing drops what lies beyond
  EXPECT_TRUE(line.attrs.empty());
  EXPECT_EQ(styled_cell_at(line, 5).word0, 0u);  // past the width: width 0
  EXPECT_EQ(styled_cell_at(line, 2).word0, 1u << kWidthShift);
}

TEST(Line, ContentEndsAfterTheLastDrawnCell) {
  Line line = line_of(10, "ab#_");
  EXPECT_EQ(content_end(line), 4u);
  set_blank(line, 6, Pen{0, 0, 0, colour_palette(1)});
  EXPECT_EQ(content_end(line), 4u);     // a coloured blank draws nothing
  Line wide_last = line_of(4, "abc#");  // a wide character cut at the edge
  EXPECT_EQ(content_end(wide_last), 4u);
  EXPECT_EQ(content_end(blank_line(5, Pen{}, false)), 0u);
}

TEST(TextMap, ArenaStaysBoundedUnderRewrites) {
  TextMap map;
  for (int i = 0; i < 100000; ++i) {
    map.set(static_cast<uint32_t>(i % 5), "e\xCC\x81\xCC\x82");
    map.append(static_cast<uint32_t>((i + 2) % 5), "\xCC\x83");
    if (i % 7 == 0) map.erase(static_cast<uint32_t>(i % 5));
  }
  EXPECT_LE(map.size(), 5u);
  EXPECT_LE(map.arena_bytes(), 2048u);
  for (uint32_t c = 0; c < 5; ++c)
    if (auto t = map.find(c)) {
      EXPECT_EQ(t->substr(0, 3), "e\xCC\x81");
    }
}

}  // namespace
}  // namespace mossbank::term
