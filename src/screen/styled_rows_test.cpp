#include "screen/styled_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

using Tokens = std::vector<std::string>;

TEST(ParseSgr, NormalisesTokens) {
  struct Case {
    std::string params;
    Tokens tokens;
  };
  const Case cases[] = {
      {"", {"0"}},
      {"0;7", {"0", "7"}},
      {"38;5;208", {"38", "5", "208"}},
      {"38:5:208", {"38", "5", "208"}},
      {"38:5", {"38", "5", ""}},
      {"38:2::1:2:3", {"38", "2", "1", "2", "3"}},  // colour space skipped
      {"48:2:1:2:3", {"48", "2", "1", "2", "3"}},
      {"58:2:9:1:2:3", {"58", "2", "1", "2", "3"}},
      {"4:3", {"4:3"}},  // other colon forms stay whole
      {"1;;2", {"1", "", "2"}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_sgr(c.params), c.tokens) << c.params;
}

struct RunView {
  std::optional<std::string> fg;
  size_t start, end;
  bool marked;
  bool operator==(const RunView&) const = default;
};

std::vector<RunView> runs_of(const StyledRow& row) {
  std::vector<RunView> out;
  for (const StyledRun& r : row.runs) out.push_back({r.fg, r.start, r.end, r.marked});
  return out;
}

TEST(ReadStyledRow, RunsAndLeadLook) {
  struct Case {
    const char* name;
    std::string row;
    std::string text;
    std::vector<RunView> runs;
    std::optional<std::string> lead_fg;
    std::optional<std::string> lead_bg;
    bool lead_marked;
  };
  const std::optional<std::string> none;
  const Case cases[] = {
      {"inverse then plain",
       "\x1b[7m Yes \x1b[0m No",
       " Yes  No",
       {{none, 0, 5, true}, {none, 5, 8, false}},
       none,
       none,
       true},
      {"256 colours", "\x1b[38;5;208mA", "A", {{"38;5;208", 0, 1, false}}, "38;5;208", none, false},
      {"colon form", "\x1b[38:5:208mA", "A", {{"38;5;208", 0, 1, false}}, "38;5;208", none, false},
      {"colour space",
       "\x1b[38:2::1:2:3mA",
       "A",
       {{"38;2;1;2;3", 0, 1, false}},
       "38;2;1;2;3",
       none,
       false},
      {"empty list resets",
       "\x1b[31mx\x1b[mA",
       "xA",
       {{"31", 0, 1, false}, {none, 1, 2, false}},
       "31",
       none,
       false},
      {"erase removed", "\x1b[2K\x1b[31mred", "red", {{"31", 0, 3, false}}, "31", none, false},
      {"bars do not lead",
       "│ \x1b[32mok",
       "│ ok",
       {{none, 0, 2, false}, {"32", 2, 4, false}},
       "32",
       none,
       false},
      {"trailing style adds no run", "a\x1b[41m", "a", {{none, 0, 1, false}}, none, none, false},
      {"background marks",
       "\x1b[44;97m sel \x1b[49m",
       " sel ",
       {{"97", 0, 5, true}},
       "97",
       "44",
       true},
      {"background off",
       "\x1b[104mx\x1b[49my",
       "xy",
       {{none, 0, 1, true}, {none, 1, 2, false}},
       none,
       "104",
       true},
      {"truecolour background",
       "\x1b[48;2;10;20;30mx",
       "x",
       {{none, 0, 1, true}},
       none,
       "48;2;10;20;30",
       true},
      {"underline colour ignored",
       "\x1b[58;5;9;31mx",
       "x",
       {{"31", 0, 1, false}},
       "31",
       none,
       false},
      {"an empty token resets", "\x1b[31;;7mx", "x", {{none, 0, 1, true}}, none, none, true},
      {"inverse off",
       "\x1b[7ma\x1b[27mb",
       "ab",
       {{none, 0, 1, true}, {none, 1, 2, false}},
       none,
       none,
       true},
      {"fg default",
       "\x1b[92ma\x1b[39mb",
       "ab",
       {{"92", 0, 1, false}, {none, 1, 2, false}},
       "92",
       none,
       false},
      {"characters, not bytes",
       "\x1b[31m❯ é\x1b[0m x",
       "❯ é x",
       {{"31", 0, 3, false}, {none, 3, 5, false}},
       "31",
       none,
       false},
      {"lone ESC is text",
       "a\x1b b\x1b[31mc",
       "a\x1b bc",
       {{none, 0, 4, false}, {"31", 4, 5, false}},
       none,
       none,
       false},
      {"private mode removed", "\x1b[?25la", "a", {{none, 0, 1, false}}, none, none, false},
      {"a private m sequence is text, not a colour",
       "\x1b[31mx\x1b[?1my",
       "x\x1b[?1my",
       {{"31", 0, 7, false}},
       "31",
       none,
       false},
      {"a private m sequence does not reset",
       "\x1b[7m\x1b[?0mA",
       "\x1b[?0mA",
       {{none, 0, 6, true}},
       none,
       none,
       true},
      {"blank row", "", "", {}, none, none, false},
  };
  for (const Case& c : cases) {
    StyledRow row = read_styled_row(c.row);
    EXPECT_EQ(row.text, c.text) << c.name;
    EXPECT_EQ(runs_of(row), c.runs) << c.name;
    EXPECT_EQ(row.lead_fg, c.lead_fg) << c.name;
    EXPECT_EQ(row.lead_bg, c.lead_bg) << c.name;
    EXPECT_EQ(row.lead_marked, c.lead_marked) << c.name;
  }
}

TEST(ReadStyledRow, RunsKeepTheirBackground) {
  StyledRow row = read_styled_row("\x1b[48;5;236m  \x1b[49mx\x1b[44;7my\x1b[0mz");
  using Keys = std::vector<std::optional<std::string>>;
  Keys bgs;
  for (const StyledRun& run : row.runs) bgs.push_back(run.bg);
  EXPECT_EQ(bgs, (Keys{"48;5;236", std::nullopt, "44", std::nullopt}));
}

TEST(ReadStyledRows, NoStyleCarriesOverToTheNextRow) {
  std::vector<StyledRow> rows = read_styled_rows("\x1b[7mone\r\ntwo");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].lead_marked);
  EXPECT_EQ(rows[1].text, "two");
  EXPECT_FALSE(rows[1].lead_marked);
}

}  // namespace
}  // namespace mossbank::screen
