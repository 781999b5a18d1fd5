#include "screen/approval.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::concat;
using testing::dialog_screen;
using testing::full_screen;
using testing::kRule;
using testing::screen_of;

TEST(ClassifyOptionRow, MarkersNumbersAndWords) {
  struct Case {
    std::string row;
    bool selected;
    bool numbered;
    uint8_t kind;
  };
  const Case cases[] = {
      {"❯ 1. Yes", true, true, kStartsWithApprovalWord},
      {"2. No, and tell Claude what to do differently", false, true, kStartsWithApprovalWord},
      {"3) Something else", false, true, kOtherOption},
      {"› Allow once", true, false, kStartsWithApprovalWord},
      {"> [y] Yes", true, false, kStartsWithApprovalWord},
      {"(n) no", false, false, kStartsWithApprovalWord},
      {"Don’t ask again", false, false, kStartsWithApprovalWord},
      {"DON'T", false, false, kStartsWithApprovalWord},
      {"Yesterday", false, false, kNotAnOption},  // a word must end
      {"Always-on", false, false, kStartsWithApprovalWord},
      {"a (●) Allow once", true, true, kStartsWithApprovalWord},
      {"b (○) Reject", false, true, kStartsWithApprovalWord},
      {"1 (◉) Pick me", true, true, kOtherOption},
      {"● main", true, false, kNotAnOption},
      {"Read 40 lines", false, false, kNotAnOption},
      {"100. Yes", false, false, kNotAnOption},  // three digits are no number
  };
  for (const Case& c : cases) {
    const OptionRow r = classify_option_row(c.row, 7);
    EXPECT_EQ(r.index, 7u);
    EXPECT_EQ(r.kind, c.kind) << c.row;
    if (r.kind == kNotAnOption) continue;
    EXPECT_EQ(r.selected, c.selected) << c.row;
    EXPECT_EQ(r.numbered, c.numbered) << c.row;
  }
}

TEST(IsChoiceGroup, NeedsTwoOfAKindAndOneOfThemSelected) {
  auto row = [](bool selected, bool numbered, uint8_t kind) {
    return OptionRow{0, selected, numbered, kind};
  };
  using G = std::vector<OptionRow>;
  EXPECT_TRUE(is_choice_group(G{row(true, false, 1), row(false, false, 1)}));
  EXPECT_FALSE(is_choice_group(G{row(false, false, 1), row(false, false, 1)}));
  EXPECT_TRUE(is_choice_group(G{row(false, true, 0), row(true, true, 0)}));
  // The selected one must be of the kind that counts twice.
  EXPECT_FALSE(is_choice_group(G{row(true, false, 0), row(false, true, 1), row(false, false, 1)}));
  EXPECT_FALSE(is_choice_group(G{row(true, true, 1)}));
  EXPECT_FALSE(is_choice_group(G{}));
}

TEST(ApprovalSignsInRows, OneRowSigns) {
  struct Case {
    std::string row;
    bool sign;
  };
  const Case cases[] = {
      {"Do you want to proceed?", true},
      {"Allow access to the folder", false},
      {"Allow access?", true},
      {"⚠ Allow this command?", true},
      {"Approve the plan", true},
      {"approved earlier", false},
      {"Press esc to cancel", true},
      {"esc to cancel, 2 queued", false},
      {"esc to cancel  · running", false},
      {"esc to cancel · running", true},
      {"Continue? (y/n)", true},
      {"Overwrite [Y/n]", true},
      {"answer y/N", true},
      {"(Y)es / (N)o", true},
      {"[y] apply  [n] skip", true},
      {"(a/b/c)", true},
      {"yes/no", false},
      {"y/nothing", false},
      {"Enter to confirm · Esc to go back", true},
      {"Waiting for your approval", true},
      {"PERMISSION REQUIRED", true},
      {"Type something.", true},
      {"just some output", false},
      {"│ Do you want to make this edit? │", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(approval_signs_in_rows(screen_of({"transcript", c.row, ""})), c.sign) << c.row;
  }
}

TEST(ApprovalSignsInRows, OptionGroups) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    bool sign;
  };
  const Case cases[] = {
      {"numbered with a cursor", {"Run it?", "❯ 1. Yes", "  2. No"}, true},
      {"no marker: nothing selected", {"1. Yes", "2. No"}, false},
      {"worded with a cursor", {"› Allow once", "  Allow always", "  Reject"}, true},
      {"radio list", {"a (●) Approve", "b (○) Deny"}, true},
      {"one option only", {"❯ 1. Yes"}, false},
      {"rows within 3 of each other", {"❯ 1. Yes", "", "", "  2. No"}, true},
      {"rows 4 apart are two groups", {"❯ 1. Yes", "", "", "", "  2. No"}, false},
      {"a box edge judges the group", {"❯ 1. Yes", "  2. No", "╰────────╯", "  3. Later"}, true},
      {"a box edge splits the group", {"❯ 1. Yes", "╰────────╯", "  2. No"}, false},
      {"a markdown list in the transcript",
       {"Steps:", "1. Build it", "2. Test it", "3. Ship it"},
       false},
      {"an idle Claude box",
       {"❯ 1. Yes", "  2. No", kRule, "❯ ", kRule, "  ? for shortcuts"},
       false},
      {"a prompt marker that is no option starts the scan below it",
       {"❯ 1. Yes", "  2. No", "> fix the tests"},
       false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> rows = {"some output"};
    rows.insert(rows.end(), c.rows.begin(), c.rows.end());
    EXPECT_EQ(approval_signs_in_rows(screen_of(rows)), c.sign) << c.name;
  }
}

TEST(ApprovalSignsInRows, OnlyTheLastTwentyNonEmptyRows) {
  for (int filler : {19, 20}) {
    std::vector<std::string> rows = {"Do you want to proceed?"};
    for (int k = 0; k < filler; ++k) rows.push_back("line " + std::to_string(k));
    rows.push_back("");
    // With 19 rows below it the question is the 20th non-empty row from
    // the bottom; with 20, the 21st.
    EXPECT_EQ(approval_signs_in_rows(screen_of(rows)), filler == 19) << filler;
  }
}

TEST(ApprovalSignsInRows, StylingAndSideBarsAreIgnored) {
  EXPECT_TRUE(
      approval_signs_in_rows("│ \x1b[0;7m❯ 1. Yes\x1b[0m   │\n│   2. No      │\n╰──────────────╯"));
}

const std::vector<std::string> kClaudeBox = {kRule, "❯ ", kRule, "  ? for shortcuts"};
const std::vector<std::string> kCodexBox = {
    "› Ask Codex to do anything", "", "  gpt-5.1-codex default · ~/project", "  ? for shortcuts"};
const std::vector<std::string> kGrokBox = {"╭──────────────────────────────────────────╮",
                                           "│ > Type a message...                      │",
                                           "╰──────────────────── grok-4 · ~/p ───────╯"};

TEST(AwaitingApproval, QuestionsAndInputBoxes) {
  struct Case {
    const char* name;
    std::optional<std::string_view> agent;
    std::string screen;
    bool prompt;
    bool awaiting;
  };
  const std::vector<std::string> proceed = {"Do you want to proceed?", "❯ 1. Yes", "  2. No", "",
                                            "Esc to cancel"};
  const Case cases[] = {
      {"a generic menu", std::nullopt, dialog_screen(proceed), true, true},
      {"a menu without approval words", "cursor",
       dialog_screen({"Select model", "❯ 1. Default", "  2. Opus", "  3. Haiku"}), true, true},
      {"a menu for Claude Code", "claude", dialog_screen(proceed), true, true},
      {"Claude Code idle", "claude", full_screen(kClaudeBox), false, false},
      {"an answered question above Claude's box", "claude",
       full_screen(concat({"Do you want to proceed?", "❯ 1. Yes", "  2. No", ""}, kClaudeBox)),
       false, false},
      {"a numbered list in Claude's transcript", "claude",
       full_screen(concat({"● Here is the plan:", "  1. Read", "  2. Check", "  3. Write", ""},
                          kClaudeBox)),
       false, false},
      {"Claude's box with a question below it", "claude",
       full_screen({kRule, "❯ ", kRule, "  Allow edits? (y/n)"}), true, false},
      {"a Codex approval", "codex",
       full_screen({"  Would you like to run the following command?", "", "  $ touch notes.txt", "",
                    "› 1. Yes, proceed (y)", "  2. No, and tell Codex what to do differently (esc)",
                    "", "  Press enter to confirm or esc to cancel"}),
       true, true},
      {"Codex idle", "codex", full_screen(kCodexBox), false, false},
      {"Codex's box under a finished question", "codex",
       full_screen(concat({"  Would you like to run it?", "› 1. Yes, proceed (y)", "  2. No", ""},
                          kCodexBox)),
       false, false},
      {"a Grok radio question", "grok",
       full_screen({"Allow this edit?", "a (●) Allow once", "b (○) Allow always", "c (○) Deny", "",
                    "Ctrl+o:always-approve"}),
       true, true},
      // A bare box counts only while no question shows.
      {"Grok's box with a hint in its bottom edge", "grok",
       full_screen({"╭──────────────────────────────────────────╮",
                    "│ > Type a message...                      │",
                    "╰──────────── esc to cancel · grok-4 ─────╯"}),
       true, true},
      {"Grok idle", "grok", full_screen(kGrokBox), false, false},
      {"an OpenCode permission row", "opencode",
       full_screen({"┃  △ Permission required", "┃    $ touch notes.txt", "┃",
                    "┃   Allow once   Allow always   Reject", "┃", "┃  ⇆ select  enter confirm"}),
       true, true},
      {"a Copilot list", "copilot", full_screen({"│ Run this command?", "│ ❯ 1. Yes", "│   2. No"}),
       true, true},
      {"markdown numbers and plain output", std::nullopt,
       full_screen({"Steps:", "1. Build it", "2. Test it", "Done."}), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_approval_prompt(c.agent, c.screen), c.prompt) << c.name;
    EXPECT_EQ(awaiting_approval(c.agent, c.screen), c.awaiting) << c.name;
  }
}

}  // namespace
}  // namespace mossbank::screen
