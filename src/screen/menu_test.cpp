#include "screen/menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::full_screen;
using testing::kRule;
using testing::screen_of;

TEST(TrimSideBars, TrimmedTextAndOffset) {
  std::vector<TrimmedRow> rows =
      trim_side_bars(screen_of({"│ \x1b[7m❯ Yes\x1b[0m  │", "┃   ", "  a │ b  ║", "plain", "é",
                                "  b ║  │" + std::string(150, ' '), "│  \t "}));
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0].trimmed, "❯ Yes");
  EXPECT_EQ(rows[0].offset, 2u);
  EXPECT_TRUE(rows[0].row.lead_marked);
  EXPECT_EQ(rows[1].trimmed, "");
  EXPECT_EQ(rows[1].offset, 4u);  // the row's length when nothing is left
  EXPECT_EQ(rows[2].trimmed, "a │ b");
  EXPECT_EQ(rows[2].offset, 2u);
  EXPECT_EQ(rows[3].offset, 0u);
  EXPECT_EQ(rows[4].index, 4u);
  // Padding behind the bars goes with them.
  EXPECT_EQ(rows[5].trimmed, "b");
  EXPECT_EQ(rows[5].offset, 2u);
  EXPECT_EQ(rows[6].trimmed, "");
  EXPECT_EQ(rows[6].offset, 5u);
}

TEST(NumberedOption, MarkersNumbersAndColumns) {
  struct Case {
    std::string row;
    std::u32string markers;
    bool option;
    uint64_t number;
    size_t column;
    std::optional<char32_t> marker;
    std::string label;
  };
  const Case cases[] = {
      {"❯ 1. Yes", U"❯", true, 1, 2, U'❯', "Yes"},
      {"❯ 1. Yes", U"›", false, 0, 0, {}, ""},
      {"2) No", U"❯", true, 2, 0, {}, "No"},
      {"›  12. Twelve", U"›❯", true, 12, 3, U'›', "Twelve"},
      {"123. Too many digits", U"❯", false, 0, 0, {}, ""},
      {"1.Yes", U"❯", false, 0, 0, {}, ""},  // a blank must follow
      {"1. ", U"❯", false, 0, 0, {}, ""},
      {"> 3. Three", U">", true, 3, 2, U'>', "Three"},
      {"❯ 1.\u00a0Yes", U"❯", true, 1, 2, U'❯', "Yes"},
  };
  for (const Case& c : cases) {
    std::optional<NumberedOption> o = numbered_option(c.row, c.markers);
    ASSERT_EQ(o.has_value(), c.option) << c.row;
    if (!o) continue;
    EXPECT_EQ(o->number, c.number) << c.row;
    EXPECT_EQ(o->column, c.column) << c.row;
    EXPECT_EQ(o->marker, c.marker) << c.row;
    EXPECT_EQ(o->label, c.label) << c.row;
  }
}

TEST(OptionLabels, HintsKeysAndFreeText) {
  EXPECT_EQ(split_label_hint("Yes   allow all edits"),
            (std::pair<std::string, std::string>{"Yes", "allow all edits"}));
  EXPECT_EQ(split_label_hint("  Yes allow "),
            (std::pair<std::string, std::string>{"Yes allow", ""}));

  EXPECT_EQ(key_suffix("No, and tell Claude what to do differently (esc)"),
            (std::pair<std::string, std::optional<std::string>>{
                "No, and tell Claude what to do differently", "esc"}));
  EXPECT_EQ(key_suffix(" Yes (Esc) ").second, "esc");
  EXPECT_EQ(key_suffix("Yes(y)").second, "y");
  EXPECT_EQ(key_suffix("Yes (x)").second, std::nullopt);
  EXPECT_EQ(key_suffix("(y)").second, std::nullopt);  // no label before it

  struct Kind {
    std::string label;
    std::optional<std::string_view> kind;
  };
  const Kind kinds[] = {
      {"3. Type something.", kFreeTextInline},
      {"Other", kFreeTextInline},
      {"Type your own answer here", kFreeTextInline},
      {"Other options", std::nullopt},
      {"No, and tell Claude what to do differently", kFreeTextAfter},
      {"Suggest changes", kFreeTextAfter},
      {"No, tell me what to do instead", kFreeTextAfter},
      {"Yes", std::nullopt},
  };
  for (const Kind& k : kinds) EXPECT_EQ(free_text_kind(k.label), k.kind) << k.label;
}

TEST(HasEscHint, ScrollbackIsNoHint) {
  struct Case {
    std::string text;
    bool hint;
  };
  const Case cases[] = {
      {"esc: scrollback", false},
      {"Esc to cancel · esc: scrollback", true},
      {"ESCAPE to go back", true},
      {"escape scrollback", false},
      {"Press esc", true},
      {"escalate", false},
      {"résumé·esc", true},  // the boundary is ASCII: é is not a word character
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(has_esc_hint(c.text), c.hint) << c.text;
}

TEST(SelectedOptionIndex, MarkerThenHighlightThenColour) {
  using L = OptionLook;
  const std::optional<std::string_view> none;
  struct Case {
    const char* name;
    std::vector<L> looks;
    std::optional<size_t> index;
    SelectionBy by;
  };
  const Case cases[] = {
      {"the lowest marker",
       {{true, false, none}, {false, true, none}, {true, false, none}},
       2,
       SelectionBy::marker},
      {"one highlight",
       {{false, false, none}, {false, true, none}, {false, false, none}},
       1,
       SelectionBy::highlight},
      {"two highlights",
       {{false, true, none}, {false, true, none}, {false, false, "31"}},
       2,
       SelectionBy::colour},
      {"one colour of three",
       {{false, false, "90"}, {false, false, "36"}, {false, false, "90"}},
       1,
       SelectionBy::colour},
      {"a colour needs three options",
       {{false, false, "90"}, {false, false, "36"}},
       std::nullopt,
       SelectionBy::marker},
      {"all colours differ",
       {{false, false, "1"}, {false, false, "2"}, {false, false, "3"}},
       std::nullopt,
       SelectionBy::marker},
      {"nothing",
       {{false, false, none}, {false, false, none}, {false, false, none}},
       std::nullopt,
       SelectionBy::marker},
  };
  for (const Case& c : cases) {
    std::optional<SelectedOption> s = selected_option_index(c.looks);
    ASSERT_EQ(s.has_value(), c.index.has_value()) << c.name;
    if (!s) continue;
    EXPECT_EQ(s->index, *c.index) << c.name;
    EXPECT_EQ(s->by, c.by) << c.name;
  }
}

TEST(ReadNumberedBlock, ClaudePermissionMenu) {
  const std::string screen = full_screen({
      kRule,
      " Bash command",
      "",
      "   rm -rf build",
      "   Remove the build folder",
      "",
      " Do you want to proceed?",
      " \x1b[0;38;5;153m❯ 1. Yes\x1b[0m",
      "   2. Yes, and don't ask again for rm commands in /work",
      "   3. No, and tell Claude what to do differently (esc)",
      "",
      " Esc to cancel",
  });
  std::vector<TrimmedRow> rows = trim_side_bars(screen);
  std::optional<NumberedBlock> block = read_numbered_block(rows, U"❯");
  ASSERT_TRUE(block);
  ASSERT_EQ(block->entries.size(), 3u);
  EXPECT_EQ(block->first_row, 45u);
  EXPECT_EQ(block->last_row, 47u);
  std::vector<MenuOption> options = block->menu_options();
  EXPECT_EQ(options[0], new_menu_option("1. Yes"));
  EXPECT_EQ(options[2].label, "3. No, and tell Claude what to do differently");
  EXPECT_EQ(options[2].key, "esc");
  EXPECT_EQ(options[2].kind, kFreeTextAfter);

  std::optional<SelectedOption> sel = selected_option_index(*block, rows);
  ASSERT_TRUE(sel);
  EXPECT_EQ(sel->index, 0u);
  EXPECT_EQ(sel->by, SelectionBy::marker);

  auto [title, top] = frame_rows(rows, block->first_row, {});
  EXPECT_EQ(title,
            "Bash command\n\n  rm -rf build\n  Remove the build folder\n\nDo you want to proceed?");
  EXPECT_EQ(top, 39u);
  EXPECT_EQ(join_row_texts(rows, block->last_row), "Esc to cancel");

  PartialMenu partial = numbered_block_menu(*block, sel->index, title, top, kNavigateArrows);
  partial.esc = has_esc_hint(join_row_texts(rows, block->last_row));
  Menu menu = finish_menu(partial, rows);
  EXPECT_EQ(menu.rows.size(), 9u);
  EXPECT_EQ(menu.rows.front(), " Bash command");
  EXPECT_EQ(menu.selected, 0u);
  EXPECT_EQ(menu.selected_row, 6u);
  EXPECT_EQ(menu.cancel, kCancelByEsc);
  EXPECT_EQ(menu.text, title +
                           "\n1. Yes\n2. Yes, and don't ask again for rm commands in /work\n"
                           "3. No, and tell Claude what to do differently");
}

TEST(ReadNumberedBlock, WhichRowsMakeABlock) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::u32string markers;
    std::vector<uint64_t> numbers;  // empty: no block
  };
  const Case cases[] = {
      {"a misaligned option breaks the block", {"  1. a", "   2. b", "  3. c"}, U"❯", {1}},
      {"a marker that is not accepted", {"› 1. a", "  2. b"}, U"❯", {}},
      {"three rows may lie between options", {"  1. a", "x", "y", "z", "  2. b"}, U"❯", {1, 2}},
      {"four rows may not", {"  1. a", "w", "x", "y", "z", "  2. b"}, U"❯", {1}},
      {"a scrolled list", {"  ↑", "  4. d", "❯ 5. e"}, U"❯", {4, 5}},
      {"the search starts again above a broken block",
       {"❯ 1. a", "  2. b", "", "", "", "", "  7. seven"},
       U"❯",
       {1, 2}},
      {"the lowest block wins", {"  1. a", "  2. b", "x", "  1. c"}, U"❯", {1}},
      {"a one-option block", {"something", "❯ 1. only"}, U"❯", {1}},
      {"option zero is no block", {"  0. zero"}, U"❯", {}},
  };
  for (const Case& c : cases) {
    std::vector<TrimmedRow> rows = trim_side_bars(screen_of(c.rows));
    std::optional<NumberedBlock> block = read_numbered_block(rows, c.markers);
    std::vector<uint64_t> numbers;
    if (block) {
      for (const auto& e : block->entries) numbers.push_back(e.option.number);
    }
    EXPECT_EQ(numbers, c.numbers) << c.name;
  }
}

TEST(ReadMarkedBlock, KeepsOnlyABlockSelectedByItsMarker) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::optional<size_t> selected;  // none: no block
  };
  const Case cases[] = {
      {"the marker's option", {"  1. a", "❯ 2. b", "  3. c"}, 1},
      {"no block at all", {"plain text"}, std::nullopt},
      {"no option is marked", {"  1. a", "  2. b"}, std::nullopt},
      {"selected by inverse video only", {"\x1b[7m  1. a\x1b[0m", "  2. b"}, std::nullopt},
      {"selected by colour only",
       {"\x1b[31m  1. a\x1b[0m", "\x1b[32m  2. b\x1b[0m", "\x1b[32m  3. c\x1b[0m"},
       std::nullopt},
  };
  for (const Case& c : cases) {
    const std::vector<TrimmedRow> rows = trim_side_bars(screen_of(c.rows));
    std::optional<MarkedBlock> marked = read_marked_block(rows, U"❯");
    EXPECT_EQ(marked.has_value(), c.selected.has_value()) << c.name;
    if (!marked || !c.selected) continue;
    EXPECT_EQ(marked->selected, *c.selected) << c.name;
    EXPECT_EQ(marked->block.entries.size(), 3u) << c.name;
  }
}

TEST(ReadNumberedBlock, OnlyTheLast45RowsAreSearched) {
  std::vector<std::string> rows = {"❯ 1. Yes", "  2. No"};
  for (int k = 0; k < 44; ++k) rows.push_back("filler");
  EXPECT_FALSE(read_numbered_block(trim_side_bars(screen_of(rows)), U"❯"));
  rows.pop_back();
  EXPECT_TRUE(read_numbered_block(trim_side_bars(screen_of(rows)), U"❯"));
}

TEST(ReadNumberedBlock, ContinuationRowsBecomeTheDetail) {
  std::vector<TrimmedRow> rows = trim_side_bars(screen_of({
      "› 1. Allow   once",
      "     for this command only",
      "  2. Deny",
      "     and stop",
      "",
      "     below the last option",
      "",
      "",
      "     too far down",
  }));
  std::optional<NumberedBlock> block = read_numbered_block(rows, U"›");
  ASSERT_TRUE(block);
  std::vector<MenuOption> options = block->menu_options();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0].label, "1. Allow");
  EXPECT_EQ(options[0].detail, "once for this command only");
  EXPECT_EQ(options[1].detail, "and stop below the last option");
  EXPECT_EQ(block->last_row, 5u);
}

TEST(ReadNumberedBlock, DetailPartsAreTrimmedTheJavaScriptWay) {
  // No-break spaces are not the blanks trim_side_bars takes off.
  std::vector<TrimmedRow> rows = trim_side_bars(screen_of({
      "› 1. Allow   once\u00a0",
      "     for this\u00a0command only\u00a0\u3000",
      "     \u00a0",
      "  2. Deny\u00a0",
      "     \u00a0and stop\u00a0",
  }));
  std::optional<NumberedBlock> block = read_numbered_block(rows, U"›");
  ASSERT_TRUE(block);
  PartialMenu partial = numbered_block_menu(*block, 0, "Run it?", std::nullopt, kNavigateArrows);
  Menu menu = finish_menu(partial, rows);
  ASSERT_EQ(menu.options.size(), 2u);
  EXPECT_EQ(menu.options[0].detail, "once for this\u00a0command only");
  EXPECT_EQ(menu.options[1].label, "2. Deny");
  EXPECT_EQ(menu.options[1].detail, "and stop");
  EXPECT_EQ(menu.text, "Run it?\n1. Allow\n2. Deny");
}

TEST(FrameRows, StopsSkipsAndBlankRuns) {
  std::vector<TrimmedRow> rows = trim_side_bars(screen_of({
      "╭──────────╮",  // 0 box edge: ends the walk
      "│ Question │",  // 1
      "│  detail  │",  // 2
      "│ ← → tabs │",  // 3
      "│          │",  // 4
      "│ ❯ 1. Yes │",  // 5
  }));
  auto [title, top] = frame_rows(rows, 5, {});
  EXPECT_EQ(title, "Question\n detail\n← → tabs");
  EXPECT_EQ(top, 1u);

  FrameRules skip_tabs;
  skip_tabs.skip = [](std::string_view t) { return t.substr(0, 7) == "← →"; };
  EXPECT_EQ(frame_rows(rows, 5, skip_tabs).first, "Question\n detail");

  FrameRules stop_detail;
  stop_detail.stop = [](std::string_view t) { return t == "detail"; };
  EXPECT_EQ(frame_rows(rows, 5, stop_detail), (std::pair<std::string, size_t>{"← → tabs", 3}));

  FrameRules one_blank;
  one_blank.max_blank_run = 1;
  EXPECT_EQ(frame_rows(rows, 5, one_blank), (std::pair<std::string, size_t>{"", 5}));

  // At most twelve rows.
  std::vector<std::string> many;
  for (int k = 0; k < 20; ++k) many.push_back("line " + std::to_string(k));
  many.push_back("❯ 1. Yes");
  auto [long_title, long_top] = frame_rows(trim_side_bars(screen_of(many)), 20, {});
  EXPECT_EQ(long_top, 8u);
  EXPECT_EQ(long_title.substr(0, 7), "line 8\n");
}

TEST(FinishMenu, TextRowsAndFlags) {
  PartialMenu partial;
  partial.options = {new_menu_option("Continue…"), new_menu_option("Stop", U'n')};
  partial.question = "";
  partial.first_option_row = 1;
  partial.last_row = 2;
  partial.selected = 1;
  partial.selected_row = 2;
  partial.always_approve_hotkey = true;
  const std::vector<std::string> rows = {"title", "❯ Continue…", "  Stop", "footer"};
  Menu menu = finish_menu(partial, rows);
  EXPECT_EQ(menu.text, "\nContinue\nStop");  // an empty title: the text starts with "\n"
  EXPECT_EQ(menu.options[1].key, "n");
  EXPECT_EQ(menu.question, std::nullopt);
  EXPECT_EQ(menu.rows, (std::vector<std::string>{"❯ Continue…", "  Stop"}));
  EXPECT_EQ(menu.selected_row, 1u);
  EXPECT_EQ(menu.cancel, kNoCancel);
  EXPECT_FALSE(menu.always_approve_hotkey);  // kept only with highlight_selection

  partial.title = "title";
  partial.title_row = 0;
  partial.highlight_selection = true;
  partial.esc = true;
  partial.selected = std::nullopt;
  partial.selected_row = std::nullopt;
  menu = finish_menu(partial, rows);
  EXPECT_EQ(menu.rows.size(), 3u);
  EXPECT_EQ(menu.selected_row, std::nullopt);
  EXPECT_TRUE(menu.always_approve_hotkey);
  EXPECT_EQ(menu.cancel, kCancelByEsc);
  EXPECT_EQ(menu.text, "title\nContinue\nStop");
}

}  // namespace
}  // namespace mossbank::screen
