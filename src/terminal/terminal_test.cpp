#include "terminal/terminal.h"

#include <gtest/gtest.h>

#include <random>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fixture;
std::string first_row_of(const Terminal& t) { return testing::first_row(t); }

// Everything a reader can see, for comparing two terminals.
std::string observable(const Terminal& t) {
  TerminalCursor c = terminal_cursor(t);
  return screen_lines_styled(t) + "|" + std::to_string(c.col) + "," + std::to_string(c.row) + "|" +
         t.title + "|" + std::to_string(t.primary.scroll_back) + "|" +
         std::to_string(t.print_state);
}

std::string feed_in_pieces(const std::string& bytes, const std::vector<size_t>& cuts, uint32_t cols,
                           uint32_t rows) {
  Terminal t = terminal_new(cols, rows);
  Utf8Repair repair;
  size_t from = 0;
  for (size_t cut : cuts) {
    terminal_process(t, repair.feed(std::string_view(bytes).substr(from, cut - from)));
    from = cut;
  }
  terminal_process(t, repair.feed(std::string_view(bytes).substr(from)));
  return observable(t);
}

TEST(Terminal, SplitFeedsGiveTheSameScreen) {
  const char* names[] = {"ascii.txt", "wrap.txt", "tab.txt", "cjk.txt", "mixed.txt"};
  for (const char* name : names) {
    std::string bytes = fixture(name);
    ASSERT_FALSE(bytes.empty()) << name;
    for (uint32_t cols : {80u, 13u}) {
      std::string whole = feed_in_pieces(bytes, {}, cols, 7);
      std::vector<size_t> every;
      for (size_t i = 1; i < bytes.size(); ++i) every.push_back(i);
      EXPECT_EQ(feed_in_pieces(bytes, every, cols, 7), whole) << name << " byte by byte";
      std::mt19937 rng(42);
      for (int round = 0; round < 5; ++round) {
        std::vector<size_t> cuts;
        for (size_t at = 0;;) {
          at += 1 + rng() % 40;
          if (at >= bytes.size()) break;
          cuts.push_back(at);
        }
        EXPECT_EQ(feed_in_pieces(bytes, cuts, cols, 7), whole) << name << " round " << round;
      }
    }
  }
}

TEST(Terminal, WithoutAutoWrapASplitFeedGivesTheSameScreen) {
  // The cursor comes back onto a wide character's spacer in the middle of
  // a run: the character must go as it would at the start of a new read.
  const std::string bytes = "\x1b[?7l漢字e\xCC\x81PQ\r\n漢漢a";
  std::string whole = feed_in_pieces(bytes, {}, 2, 3);
  for (size_t cut = 1; cut < bytes.size(); ++cut)
    EXPECT_EQ(feed_in_pieces(bytes, {cut}, 2, 3), whole) << "cut at " << cut;
}

TEST(Utf8Repair, CarriesIncompleteSequencesAndReplacesInvalidOnes) {
  struct Case {
    std::vector<std::string> reads;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {{"\xE2\x82", "\xAC"}, {"", "\xE2\x82\xAC"}},
      {{"a\xFF"
        "b"},
       {"a\xEF\xBF\xBD"
        "b"}},
      {{"\xE2", "\x82",
        "\xAC"
        "x"},
       {"", "",
        "\xE2\x82\xAC"
        "x"}},
      {{"\xE2\x82"
        "a"},
       {"\xEF\xBF\xBD"
        "a"}},  // a maximal prefix is one U+FFFD
      {{"\xE2\x82", "a"},
       {"",
        "\xEF\xBF\xBD"
        "a"}},
      {{"\xED\xA0\x80"}, {"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}},  // surrogates
      {{"\xF0\x9F\x98", "\x80\xF0"}, {"", "\xF0\x9F\x98\x80"}},
      {{"\xEF\xBF\xBD"}, {"\xEF\xBF\xBD"}},
      {{"\xC0\xAF"}, {"\xEF\xBF\xBD\xEF\xBF\xBD"}},
      {{std::string(40, 'a') + "\xE4\xB8"}, {std::string(40, 'a')}},
  };
  for (const Case& c : cases) {
    Utf8Repair r;
    for (size_t i = 0; i < c.reads.size(); ++i)
      EXPECT_EQ(std::string(r.feed(c.reads[i])), c.want[i])
          << "read " << i << " of case " << c.want.back();
  }
}

TEST(Terminal, MemoryStaysBoundedOnEndlessInput) {
  Terminal t = terminal_new(80, 24);
  // Endless combining marks on one cell.
  terminal_process(t, "e");
  std::string marks;
  for (int i = 0; i < 100000; ++i) marks += "\xCC\x81";
  for (int i = 0; i < 20; ++i) terminal_process(t, marks);
  const Line& row = testing::screen_row(t, 0);
  EXPECT_LE(row.text.arena_bytes(), 256u);
  // A 10 MB OSC string is dropped with its memory.
  terminal_process(t, "\x1b]2;");
  std::string chunk(1 << 20, 'y');
  for (int i = 0; i < 11; ++i) terminal_process(t, chunk);
  terminal_process(t, "\x07");
  EXPECT_TRUE(t.title.empty());
  EXPECT_LT(t.parser.osc_text.capacity(), 1u << 20);
  // Huge parameters saturate.
  terminal_process(t, "\x1b[" + std::string(10000, '9') + ";" + std::string(10000, '9') + "H");
  EXPECT_EQ(terminal_cursor(t).col, 79u);
  EXPECT_EQ(terminal_cursor(t).row, 23u);
  terminal_process(t, "\x1b[2147483647A\x1b[2147483647D\x1b[2147483647@ok\x1b[2147483647b");
  // REP repeats at most 65,536 times: "ok" and the k's end 18 columns in.
  EXPECT_EQ(terminal_cursor(t).row, 23u);
  EXPECT_EQ(terminal_cursor(t).col, (2 + 65536) % 80u);
  EXPECT_EQ(first_row_of(t), std::string(80, 'k'));
}

}  // namespace
}  // namespace mossbank::term
