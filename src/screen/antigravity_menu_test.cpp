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

// Antigravity's screens keep the transcript above a rule; the title walk
// stops there.
std::string screen(const Rows& rows) {
  return full_screen(concat({"● Ran the tests", kRule}, rows));
}

Rows numbered(size_t count, size_t cursor = 0) {
  Rows rows;
  for (size_t k = 1; k <= count; ++k) {
    rows.push_back((k - 1 == cursor ? "> " : "  ") + std::to_string(k) + ". Model " +
                   std::to_string(k));
  }
  return rows;
}

const std::string kHint = "↑/↓ Navigate · enter Select · esc Cancel";

TEST(AntigravityMenu, NumberedList) {
  std::optional<Menu> menu = read_menu(
      "antigravity", screen(concat(concat({"Choose a model"}, numbered(3, 1)), {"", kHint})));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Choose a model");
  EXPECT_EQ(labels(*menu), (Rows{"1. Model 1", "2. Model 2", "3. Model 3"}));
  EXPECT_EQ(menu->selected, 1u);
  EXPECT_EQ(menu->selected_row, 2u);
  EXPECT_EQ(menu->navigation, kNavigateNumber);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_FALSE(menu->highlight_selection);
}

TEST(AntigravityMenu, NumberedListNavigationAndHint) {
  struct Case {
    const char* name;
    Rows rows;
    // "number" from the numbered list, "arrows" from it or, failing it,
    // from the plain list; none: no menu.
    std::optional<NavigationKind> navigation;
    std::optional<std::string> title = std::nullopt;
  };
  const Case cases[] = {
      {"nine options", concat(numbered(9), {kHint}), kNavigateNumber},
      {"ten options", concat(numbered(10), {kHint}), kNavigateArrows},
      {"the login question", concat(concat({"Select login method"}, numbered(2)), {kHint}),
       kNavigateArrows, "Select login method"},
      {"the hint after two blank rows", concat(numbered(2), {"", "", kHint}), kNavigateNumber},
      // Three blank rows: too far for the numbered list, near enough for
      // the plain one, which answers with the arrows.
      {"the hint after three blank rows", concat(numbered(2), {"", "", "", kHint}),
       kNavigateArrows},
      {"another row first", concat(numbered(2), {"Tip: press ? for help", kHint}), kNavigateArrows},
      {"no navigate hint", concat(numbered(2), {"enter Select"}), std::nullopt},
      {"a completion popup", concat(numbered(2), {"↑/↓ Navigate · tab Complete"}), std::nullopt},
      // The plain list takes an "enter Submit" list the numbered one leaves.
      {"the submit hint", concat(numbered(2), {"↑/↓ Navigate · enter Submit"}), kNavigateArrows},
      {"a status row ends the title",
       concat(concat({"Pick one", "● working", "Choose"}, numbered(2)), {kHint}), kNavigateNumber,
       "Choose"},
      {"a help row ends the title",
       concat(concat({"? for shortcuts", "Choose"}, numbered(2)), {kHint}), kNavigateNumber,
       "Choose"},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_menu("antigravity", screen(c.rows));
    if (!c.navigation) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->navigation, *c.navigation) << c.name;
    if (c.title) {
      EXPECT_EQ(menu->title, *c.title) << c.name;
    }
  }
}

TEST(AntigravityMenu, NumberedListNotAQuestion) {
  struct Case {
    const char* name;
    Rows rows;
  };
  const Case cases[] = {
      // The input box below: a numbered list in the transcript.
      {"the prompt below",
       concat(numbered(2), {kHint, kRule, "> fix it", kRule, "gemini-3 · ~/p"})},
      {"selected by highlight", {"\x1b[7m1. Model 1\x1b[0m", "2. Model 2", kHint}},
      {"no cursor", {"1. Model 1", "2. Model 2", kHint}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_menu("antigravity", screen(c.rows)), std::nullopt) << c.name;
  }
}

const Rows kTrust = {
    "Do you trust the files in this folder?",
    "  /home/me/project",
    "",
    "> Yes, I trust this folder",
    "  No, exit",
    "",
    "↑/↓ Navigate · enter Confirm · esc Cancel",
};

TEST(AntigravityMenu, TrustQuestion) {
  std::optional<Menu> menu = read_menu("antigravity", screen(kTrust));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Do you trust the files in this folder?\n  /home/me/project");
  EXPECT_EQ(labels(*menu), (Rows{"Yes, I trust this folder", "No, exit"}));
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_EQ(menu->rows.front(), kTrust.front());
  EXPECT_EQ(menu->selected_row, 3u);
  EXPECT_EQ(read_menu("antigravity", screen(kTrust)), menu);

  // Other indented rows around the two answers are left out.
  const Rows crowded = {"Do you trust the files in this folder?",
                        "  Learn more about trust",
                        "  No, exit",
                        "> Yes, I trust this folder",
                        "  (remembered per folder)",
                        "",
                        "↑/↓ Navigate · enter Confirm"};
  menu = read_menu("antigravity", screen(crowded));
  ASSERT_TRUE(menu);
  EXPECT_EQ(labels(*menu), (Rows{"No, exit", "Yes, I trust this folder"}));
  EXPECT_EQ(menu->selected, 1u);
  EXPECT_EQ(menu->cancel, kNoCancel);
  EXPECT_EQ(menu->title, "Do you trust the files in this folder?\n  Learn more about trust");
  // Without the confirm hint the list stays whole.
  Rows whole = crowded;
  whole.back() = "↑/↓ Navigate";
  menu = read_menu("antigravity", screen(whole));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->options.size(), 4u);
}

TEST(AntigravityMenu, TrustQuestionGoesFirstBeforeTheWorkspace) {
  const Rows rows = {"Accessing workspace:",
                     "  /home/me/project",
                     "",
                     "Do you trust the contents of this project?",
                     "",
                     "> Yes, I trust this folder",
                     "  No, exit",
                     "",
                     "↑/↓ Navigate · enter Confirm"};
  std::optional<Menu> menu = read_menu("antigravity", screen(rows));
  ASSERT_TRUE(menu);
  EXPECT_EQ(
      menu->title,
      "Do you trust the contents of this project?\n\nAccessing workspace:\n  /home/me/project");
  EXPECT_EQ(menu->text, menu->title + "\nYes, I trust this folder\nNo, exit");
}

TEST(AntigravityMenu, PlainList) {
  const Rows settings = {
      "Settings",           "Search:", "> Theme        dark",        "  Editor       vim",
      "  Telemetry    off", "",        "↑/↓ Navigate · enter Select"};
  std::optional<Menu> menu = read_menu("antigravity", screen(settings));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Settings");
  EXPECT_EQ(labels(*menu), (Rows{"Theme", "Editor", "Telemetry"}));
  EXPECT_EQ(menu->options[1].detail, "vim");
  EXPECT_EQ(menu->cancel, kNoCancel);

  struct Case {
    const char* name;
    Rows rows;
    bool menu;
  };
  const Case cases[] = {
      {"the selected row in the middle", {"  Light", "> Dark", "  System", kHint}, true},
      {"the hint eight rows below", concat(concat({"> Dark", "  Light"}, Rows(7, "")), {kHint}),
       true},
      {"the hint nine rows below", concat(concat({"> Dark", "  Light"}, Rows(8, "")), {kHint}),
       false},
      {"one row", {"> Dark", "", kHint}, false},
      {"rows indented by three are not the list's", {"> Dark", "   Light", kHint}, false},
      {"a slash command", {"> /help", "  /model", kHint}, false},
      {"a completion popup", {"> Dark", "  Light", "↑/↓ Navigate · tab Complete"}, false},
      {"the input box below",
       {"> Dark", "  Light", kHint, kRule, ">", kRule, "gemini-3 · ~/p"},
       false},
      {"the input box prompt is no cursor row",
       {kRule, "> fix the tests", kRule, "gemini-3 · ~/p"},
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_menu("antigravity", screen(c.rows)).has_value(), c.menu) << c.name;
  }
  EXPECT_EQ(read_menu("antigravity", ""), std::nullopt);
  EXPECT_EQ(read_menu("antigravity", "\n\n   \n"), std::nullopt);
}

}  // namespace
}  // namespace mossbank::screen
