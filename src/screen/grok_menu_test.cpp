#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::concat;
using testing::full_screen;
using testing::kRule;
using testing::labels;
using Rows = std::vector<std::string>;

const Rows kTrust = {
    "Do you trust the contents of this directory?",
    "Grok will be able to read and change files in /home/me/project.",
    "",
    "Yes, I trust this directory        y",
    "No, quit                           n",
};

TEST(GrokMenu, TrustQuestionWithHotkeys) {
  std::optional<Menu> menu = read_menu("grok", full_screen(kTrust));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title,
            "Do you trust the contents of this directory?\nGrok will be able to read and change "
            "files in /home/me/project.");
  EXPECT_EQ(labels(*menu), (Rows{"Yes, I trust this directory", "No, quit"}));
  EXPECT_EQ(menu->options[0].key, "y");
  EXPECT_EQ(menu->options[1].key, "n");
  EXPECT_EQ(menu->navigation, kNavigateKey);
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->cancel, kNoCancel);
  EXPECT_EQ(menu->rows, kTrust);
  EXPECT_EQ(menu->selected_row, 3u);
  EXPECT_FALSE(menu->highlight_selection);
  EXPECT_EQ(read_menu("grok", full_screen(kTrust)), menu);
}

TEST(GrokMenu, TrustQuestionNeedsItsExactRowAboveTwoHotkeyRows) {
  struct Case {
    const char* name;
    Rows rows;
  };
  const Case cases[] = {
      {"another letter case",
       {"Do you trust the contents of this Directory?", "", "Yes   y", "No    n"}},
      {"reworded", {"Do you trust this directory?", "", "Yes   y", "No    n"}},
      {"the question below the options",
       {"Yes    y", "No     n", "Do you trust the contents of this directory?"}},
      {"one hotkey row", {"Do you trust the contents of this directory?", "", "Yes    y"}},
      {"three blanks before the key",
       {"Do you trust the contents of this directory?", "Yes   y", "No   n"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_menu("grok", full_screen(c.rows)), std::nullopt) << c.name;
  }
}

// A lettered radio list as Grok draws it: the question, the options, the
// hint row.
Rows radio(const Rows& options,
           const std::string& hint = "↑/↓ select · enter confirm · esc cancel") {
  Rows rows = {"⏺ Bash(rm -rf build)", "", "› Allow grok to run this command?", "$ rm -rf build"};
  rows.insert(rows.end(), options.begin(), options.end());
  rows.insert(rows.end(), {"", hint});
  return rows;
}

TEST(GrokMenu, LetteredRadioList) {
  std::optional<Menu> menu = read_menu(
      "grok", full_screen(radio(
                  {"a (●) Yes, run it", "b (○) Yes, and allow rm for this session   session only",
                   "c (○) No, tell grok what to do differently (esc)"},
                  "↑/↓ select · enter confirm · esc cancel · Ctrl+o:always-approve")));
  ASSERT_TRUE(menu);
  // The "› " before the question is Grok's marker, not text.
  EXPECT_EQ(menu->title, "Allow grok to run this command?\n$ rm -rf build");
  EXPECT_EQ(labels(*menu), (Rows{"a. Yes, run it", "b. Yes, and allow rm for this session",
                                 "c. No, tell grok what to do differently"}));
  EXPECT_EQ(menu->options[1].detail, "session only");
  EXPECT_EQ(menu->options[2].key, "esc");
  EXPECT_EQ(menu->options[2].kind, kFreeTextAfter);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->selected_row, 2u);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_TRUE(menu->highlight_selection);
  EXPECT_TRUE(menu->always_approve_hotkey);
}

TEST(GrokMenu, RadioSelection) {
  const std::string inverse_a = "\x1b[7ma (●) Yes\x1b[0m";
  const std::string always = "enter confirm · Ctrl+o:always-approve";
  struct Case {
    const char* name;
    Rows options;
    std::string hint;
    std::optional<size_t> selected;  // none: no menu
    bool always_approve;
  };
  const Case cases[] = {
      {"the filled radio", {"a (○) Yes", "b (◉) No"}, always, 1, true},
      {"without the hint", {"a (○) Yes", "b (◉) No"}, "enter confirm", 1, false},
      {"two filled, one inverse", {inverse_a, "b (●) No"}, always, 0, false},
      {"two filled, none inverse", {"a (●) Yes", "b (●) No"}, always, std::nullopt, false},
      {"none filled, one inverse", {"a (○) Yes", "\x1b[7mb (○) No\x1b[0m"}, always, 1, false},
      {"all on a background, one colour apart",
       {"\x1b[44;37ma (○) Yes\x1b[0m", "\x1b[44;33mb (○) No\x1b[0m",
        "\x1b[44;37mc (○) Later\x1b[0m"},
       always,
       1,
       false},
      {"two rows on a background, colours apart",
       {"\x1b[44;37ma (○) Yes\x1b[0m", "\x1b[44;33mb (○) No\x1b[0m"},
       always,
       std::nullopt,
       false},
      {"digits as letters", {"1 (●) Yes", "2 (○) No"}, "", 0, false},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_menu("grok", full_screen(radio(c.options, c.hint)));
    if (!c.selected) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
    EXPECT_EQ(menu->always_approve_hotkey, c.always_approve) << c.name;
  }
}

TEST(GrokMenu, RadioListShape) {
  struct Case {
    const char* name;
    Rows rows;
    std::optional<std::string> title;  // none: no menu
  };
  const Case cases[] = {
      {"one radio row is no list", {"Pick one", "a (●) Yes", "", "enter confirm"}, std::nullopt},
      {"the input prompt below",
       {"Pick one", "a (●) Yes", "b (○) No", "", "│ > ", "╰─── grok-4 ───╯"},
       std::nullopt},
      {"an empty prompt row below", {"Pick one", "a (●) Yes", "b (○) No", ">"}, std::nullopt},
      {"a numbered cursor below does not veto",
       {"Pick one", "a (●) Yes", "b (○) No", "❯ 1. More"},
       "Pick one"},
      {"a warning row ends the title",
       {"Pick one", "⚠ careful", "Really?", "a (●) Yes", "b (○) No"},
       "Really?"},
      {"a prompt row ends the title", {"> fix it", "Really?", "a (●) Yes", "b (○) No"}, "Really?"},
      {"the tab row is passed over",
       {"Pick one", "← → switch tabs", "a (●) Yes", "b (○) No"},
       "Pick one"},
      {"a blank row ends the title", {"Pick one", "", "a (●) Yes", "b (○) No"}, ""},
      {"a lone far-right mark is dropped",
       {"Pick one           ▲", "a (●) Yes            █", "b (○) No"},
       "Pick one"},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_menu("grok", full_screen(concat({"⏺ done", ""}, c.rows)));
    if (!c.title) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, *c.title) << c.name;
    EXPECT_EQ(labels(*menu), (Rows{"a. Yes", "b. No"})) << c.name;
  }
}

TEST(GrokMenu, NumberedList) {
  struct Case {
    const char* name;
    Rows rows;
    std::optional<std::string> title;  // none: no menu
    uint8_t cancel;
  };
  const Case cases[] = {
      {"with an esc hint",
       {"Switch model?", "", "❯ 1. Yes", "  2. No", "", "Esc to cancel"},
       "Switch model?",
       kCancelByEsc},
      {"a prompt row ends the title",
       {"> /model", "Switch model?", "  1. Yes", "❯ 2. No"},
       "Switch model?",
       kNoCancel},
      {"the input prompt below",
       {"Switch model?", "❯ 1. Yes", "  2. No", "│ ❯ "},
       std::nullopt,
       kNoCancel},
      {"selected by highlight",
       {"Switch model?", "\x1b[7m1. Yes\x1b[0m", "2. No"},
       std::nullopt,
       kNoCancel},
      {"a \"›\" cursor is not Grok's",
       {"Switch model?", "› 1. Yes", "  2. No"},
       std::nullopt,
       kNoCancel},
  };
  for (const Case& c : cases) {
    // No blank-row limit here: the rule above ends the title.
    std::optional<Menu> menu =
        read_menu("grok", full_screen(concat({"⏺ done", "────────────────"}, c.rows)));
    if (!c.title) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, *c.title) << c.name;
    EXPECT_EQ(labels(*menu), (Rows{"1. Yes", "2. No"})) << c.name;
    EXPECT_EQ(menu->navigation, kNavigateArrows) << c.name;
    EXPECT_EQ(menu->cancel, c.cancel) << c.name;
    EXPECT_FALSE(menu->highlight_selection) << c.name;
  }
}

// The argument picker of a slash command: a numbered rule, the choices, a
// rule, and the input box with the command typed so far.
Rows picker(const Rows& choices, const std::string& numbered_rule = "──────────────────2─") {
  Rows rows = {"⏺ done", "", numbered_rule};
  rows.insert(rows.end(), choices.begin(), choices.end());
  rows.insert(rows.end(), {kRule, "╭──────────────────────────────────────╮",
                           "│ ❯ /model gr                          │",
                           "╰──────────────────── grok-4 ──────────╯"});
  return rows;
}

TEST(GrokMenu, ArgumentPicker) {
  const std::string screen = full_screen(
      picker({"    grok-4          Most capable model", "  ❯ grok-3-mini     Fast and cheap",
              "    grok-code       Tuned for code   (beta)"}));
  std::optional<Menu> menu = read_menu("grok", screen);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "/model gr");
  EXPECT_EQ(labels(*menu), (Rows{"grok-4", "grok-3-mini", "grok-code"}));
  EXPECT_EQ(menu->options[0].detail, "Most capable model");
  EXPECT_EQ(menu->options[2].detail, "Tuned for code   (beta)");
  EXPECT_EQ(menu->selected, 1u);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->cancel, kNoCancel);
  // The menu's rows are the list's.
  EXPECT_EQ(menu->rows.size(), 3u);
  EXPECT_EQ(menu->rows.front(), "    grok-4          Most capable model");
  EXPECT_EQ(menu->selected_row, 1u);
}

TEST(GrokMenu, ArgumentPickerShape) {
  struct Case {
    const char* name;
    Rows rows;
    bool menu;
  };
  const Case cases[] = {
      {"two choices", picker({"  ❯ grok-4", "    grok-3"}), true},
      {"a blank row between choices", picker({"  ❯ grok-4", "", "    grok-3"}), true},
      {"one choice", picker({"  ❯ grok-4"}), false},
      {"a row left of the cursor", picker({"  ❯ grok-4", "    grok-3", "more below"}), false},
      {"no cursor in the list", picker({"    grok-4", "    grok-3"}), false},
      {"a rule without its number", picker({"  ❯ grok-4", "    grok-3"}, "──────────────────"),
       false},
      {"the rule's number with two dashes",
       picker({"  ❯ grok-4", "    grok-3"}, "────────────12──"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_menu("grok", full_screen(c.rows)).has_value(), c.menu) << c.name;
  }
  // The argument row must be inside the box under the rule.
  Rows no_box = picker({"  ❯ grok-4", "    grok-3"});
  no_box[no_box.size() - 3] = "──────────────────────────────────────";
  EXPECT_EQ(read_menu("grok", full_screen(no_box)), std::nullopt);
  Rows outside = picker({"  ❯ grok-4", "    grok-3"});
  outside[outside.size() - 2] = "❯ /model gr";
  EXPECT_EQ(read_menu("grok", full_screen(outside)), std::nullopt);
  // The numbered rule at most 20 rows above the plain rule.
  Rows far = picker(Rows(19, "    grok-x"));
  far[3] = "  ❯ grok-4";
  EXPECT_TRUE(read_menu("grok", full_screen(far)));
  far.insert(far.begin() + 4, "    grok-y");
  EXPECT_EQ(read_menu("grok", full_screen(far)), std::nullopt);
}

}  // namespace
}  // namespace mossbank::screen
