#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/row_text.h"
#include "screen/test_screens.h"
#include "screen/text_utils.h"

namespace mossbank::screen {
namespace {

using testing::concat;
using testing::full_screen;
using testing::labels;
using testing::screen_of;
using Rows = std::vector<std::string>;

// The same screen for each of the three names.
std::optional<Menu> read_all(const std::string& screen) {
  std::optional<Menu> menu = read_menu("opencode", screen);
  EXPECT_EQ(read_menu("kilo", screen), menu);
  EXPECT_EQ(read_menu("kilocode", screen), menu);
  EXPECT_EQ(read_menu("opencode", screen), menu);
  return menu;
}

TEST(OpenCodeMenu, NumberedQuestion) {
  struct Case {
    const char* name;
    Rows rows;
    std::optional<size_t> selected;  // none: no menu
    bool highlight;
    uint8_t cancel;
  };
  const Case cases[] = {
      {"a › cursor over enter submit",
       {"Which database?", "› 1. Postgres", "  2. SQLite", "",
        "↑↓ select  enter submit  esc dismiss"},
       0,
       false,
       kCancelByEsc},
      {"a ❯ cursor over enter confirm",
       {"Which database?", "  1. Postgres", "❯ 2. SQLite", "", "Enter  Confirm"},
       1,
       false,
       kNoCancel},
      {"selected by highlight",
       {"Which database?", "1. Postgres", "\x1b[7m2. SQLite\x1b[0m", "", "enter submit"},
       1,
       true,
       kNoCancel},
      {"without the submit hint",
       {"Which database?", "› 1. Postgres", "  2. SQLite", "", "esc dismiss"},
       std::nullopt,
       false,
       kNoCancel},
      {"nothing selected",
       {"Which database?", "1. Postgres", "2. SQLite", "", "enter submit"},
       std::nullopt,
       false,
       kNoCancel},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_all(full_screen(concat({""}, c.rows)));
    if (!c.selected) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, "Which database?") << c.name;
    EXPECT_EQ(labels(*menu), (Rows{"1. Postgres", "2. SQLite"})) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
    EXPECT_EQ(menu->navigation, kNavigateArrows) << c.name;
    EXPECT_EQ(menu->highlight_selection, c.highlight) << c.name;
    EXPECT_EQ(menu->cancel, c.cancel) << c.name;
  }
}

std::string styled(const std::string& sgr, const std::string& text) {
  return "\x1b[0;" + sgr + "m" + text + "\x1b[0m";
}

std::string padded(std::string text, size_t width) {
  const size_t chars = char_count(text);
  if (chars < width) text.append(width - chars, ' ');
  return text;
}

constexpr size_t kDialogWidth = 44;
const std::string kPanel = "48;5;236";

// OpenCode's model dialog with its left edge at screen column `column`: every
// row on the panel's background (empty rows too, drawn as blanks), section
// headers in purple, the search field dim, the selected row on orange two
// columns left of the others, a footer of ctrl+ hints. `left` is drawn on
// the screen's left, beside the dialog, row by row.
Rows model_dialog(size_t column, const Rows& left = {}) {
  const size_t sel_indent = column >= 2 ? 2 : 0;
  const std::vector<std::pair<std::string, std::string>> cells = {
      {"97;" + kPanel, padded("Select model", kDialogWidth - 3) + "esc"},
      {"97;" + kPanel, ""},
      {"90;" + kPanel, "Search"},
      {"97;" + kPanel, ""},
      {"35;" + kPanel, "Recent"},
      {"97;" + kPanel, "Claude Sonnet 4                  Anthropic"},
      {"97;" + kPanel, "GPT-5                            OpenAI"},
      {"30;48;5;214", "● Stand-in model"},
      {"97;" + kPanel, "Grok 4                           xAI"},
      {"97;" + kPanel, ""},
      {"97;" + kPanel, "Connect provider ctrl+a  Favorite ctrl+f"},
  };
  Rows rows;
  for (size_t k = 0; k < cells.size(); ++k) {
    const bool selected = cells[k].first.rfind("30;", 0) == 0;
    std::string row = k < left.size() ? padded(left[k], column) : std::string(column, ' ');
    if (selected) row = row.substr(0, byte_offset_of_char(row, column - sel_indent));
    row += styled(cells[k].first, padded(cells[k].second, kDialogWidth));
    rows.push_back(row);
  }
  return rows;
}

const Rows kModelLabels = {"Claude Sonnet 4", "GPT-5", "● Stand-in model", "Grok 4"};

TEST(OpenCodeMenu, DialogAtTheLeftIsReadWithoutCutting) {
  const std::string screen = full_screen(concat({""}, model_dialog(2)));
  std::optional<Menu> menu = read_all(screen);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Select model");
  EXPECT_EQ(labels(*menu), kModelLabels);
  EXPECT_EQ(menu->options[0].detail, "Anthropic");
  EXPECT_EQ(menu->options[2].detail, std::nullopt);
  EXPECT_EQ(menu->selected, 2u);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_TRUE(menu->highlight_selection);
  EXPECT_FALSE(menu->always_approve_hotkey);
  // From the title row through the last option, as the screen shows them.
  EXPECT_EQ(menu->rows.size(), 9u);
  EXPECT_EQ(menu->selected_row, 7u);
  EXPECT_EQ(js_trim(menu->rows[7]), "● Stand-in model");
  // Without colours there is no highlight to find.
  EXPECT_EQ(read_menu("opencode", strip_escapes(screen)), std::nullopt);
}

TEST(OpenCodeMenu, DialogInTheMiddleIsReadFromItsOwnColumns) {
  // The input box's edge runs down the left and ends in "╹▀▀▀" on a row of
  // the dialog: read whole, that row would end the dialog there.
  const Rows left = {"", "", "", "", "  ┃", "  ┃  Ask", "  ┃", "  ┃  Build", "  ╹▀▀▀▀▀▀", "", ""};
  const std::string screen = full_screen(concat({""}, model_dialog(30, left)));
  std::optional<Menu> menu = read_all(screen);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Select model");
  EXPECT_EQ(labels(*menu), kModelLabels);
  EXPECT_EQ(menu->selected, 2u);
  // The rows are those of the cut: three columns left of the title on.
  EXPECT_EQ(menu->rows.front().substr(0, 15), "   Select model");
}

TEST(OpenCodeMenu, DialogBesideOtherContent) {
  // The title row itself has text on its left: only the beside pattern
  // finds it.
  const Rows left = {"  ┃  Ask anything", "  ┃", "  ┃  Build · Stand-in model"};
  const std::string screen = full_screen(concat({""}, model_dialog(30, left)));
  std::optional<Menu> menu = read_all(screen);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Select model");
  EXPECT_EQ(labels(*menu), kModelLabels);
  EXPECT_EQ(menu->selected, 2u);
}

TEST(OpenCodeMenu, DialogCandidates) {
  struct Case {
    const char* name;
    Rows rows;
    std::optional<Rows> labels;  // none: no menu
    size_t selected = 0;
  };
  const std::string title = padded("Select session", 30) + "esc";
  const Case cases[] = {
      {"no title background: the only inverse row, all rows options",
       {title, "", "Fix the tests", "\x1b[7mWrite the docs\x1b[0m", "Refactor the reader", "",
        "ctrl+d delete  ctrl+r rename"},
       Rows{"Fix the tests", "Write the docs", "Refactor the reader"},
       1},
      {"no title background: the background most rows share",
       {title, styled("44", "Fix the tests"), styled("43", "Write the docs"),
        styled("44", "Refactor the reader"), "ctrl+d delete"},
       Rows{"Fix the tests", "Write the docs", "Refactor the reader"},
       1},
      {"no title background: no common background",
       {title, styled("44", "Fix the tests"), styled("43", "Write the docs"),
        styled("44", "Refactor the reader"), styled("43", "Ship it"), "ctrl+d delete"},
       std::nullopt},
      {"muted rows at the title's column are not candidates",
       {title, styled("90", "Search"), "Fix the tests", "\x1b[7mWrite the docs\x1b[0m",
        styled("94", "more…")},
       Rows{"Fix the tests", "Write the docs"},
       1},
      {"rows right of the title are not candidates",
       {title, "Fix the tests", "   detail of the fix", "\x1b[7mWrite the docs\x1b[0m"},
       Rows{"Fix the tests", "Write the docs"},
       1},
      {"the footer ends the dialog",
       {title, "Fix the tests", "ctrl+d delete", "\x1b[7mWrite the docs\x1b[0m"},
       std::nullopt},
      {"a row ending in a no-break space ends the dialog",
       {title, "Fix the tests", "Later\u00a0", "\x1b[7mWrite the docs\x1b[0m"},
       std::nullopt},
      {"a box edge ends the dialog",
       {title, "Fix the tests", "╭──────╮", "\x1b[7mWrite the docs\x1b[0m"},
       std::nullopt},
      {"one option is no menu",
       {title, "\x1b[7mWrite the docs\x1b[0m", "", "ctrl+d delete"},
       std::nullopt},
      {"two highlighted rows",
       {title, "\x1b[7mFix\x1b[0m", "\x1b[7mWrite\x1b[0m", "Ship"},
       std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_all(full_screen(concat({"", ""}, c.rows)));
    if (!c.labels) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, "Select session") << c.name;
    EXPECT_EQ(labels(*menu), *c.labels) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
  }
}

// A dialog on the panel background whose rows `options` follow its title;
// `after` comes below, outside the dialog.
Rows panel(const Rows& options, const Rows& after = {}) {
  Rows rows = {styled("97;" + kPanel, padded("Select agent", 30) + "esc")};
  for (const std::string& o : options) rows.push_back(o);
  rows.insert(rows.end(), after.begin(), after.end());
  return rows;
}

TEST(OpenCodeMenu, DialogBackgroundNeighbours) {
  const std::string build = styled("97;" + kPanel, "build");
  const std::string plan = styled("97;" + kPanel, "plan");
  const std::string picked = styled("30;48;5;214", "● review");
  // The dialog's padding painted on its background, and the input box
  // behind the dialog on a background of its own, the user's draft in it.
  const std::string padding = styled("97;" + kPanel, std::string(33, ' '));
  const std::string draft = styled("90;48;5;234", padded("hello world", 33));
  const std::string box = styled("97;48;5;234", std::string(33, ' '));
  struct Case {
    const char* name;
    Rows rows;
    std::optional<Rows> labels;  // none: no menu
  };
  const Case cases[] = {
      {"a draft under the dialog's last padding row",
       panel({build, picked, plan, padding}, {draft, box}), Rows{"build", "● review", "plan"}},
      {"the highlight last, a draft under the padding",
       panel({build, plan, picked, padding}, {draft, box}), Rows{"build", "plan", "● review"}},
      {"a highlight between painted padding rows",
       panel({build, padding, picked, padding, plan, padding}, {draft, box}),
       Rows{"build", "● review", "plan"}},
      {"a highlight between the dialog's rows", panel({build, picked, plan}),
       Rows{"build", "● review", "plan"}},
      {"a highlight between padding rows", panel({build, "", picked, "", plan}),
       Rows{"build", "● review", "plan"}},
      {"a highlight right under the title", panel({picked, build}), Rows{"● review", "build"}},
      // Without the panel's background and unmarked: outside the dialog,
      // it ends the list, so the highlight stays the only other colour.
      {"a row outside the dialog", panel({build, picked, plan}, {"", "outside the dialog"}),
       Rows{"build", "● review", "plan"}},
      {"a blank row under the outside row",
       panel({build, picked, plan}, {"", "outside the dialog", ""}),
       Rows{"build", "● review", "plan"}},
      {"the outside row right below", panel({build, picked, plan}, {"outside the dialog"}),
       std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_all(full_screen(concat({""}, c.rows)));
    if (!c.labels) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(labels(*menu), *c.labels) << c.name;
    EXPECT_EQ(menu->options[menu->selected.value()].label, "● review") << c.name;
  }
}

// OpenCode's permission request, its answers side by side.
Rows permission(const std::string& answers, const std::string& title = "△ Permission required") {
  return {
      "  ┃", "  ┃  " + title, "  ┃    # Shell command", "  ┃  $ touch notes.txt", "  ┃" + answers,
      "  ┃"};
}

TEST(OpenCodeMenu, PermissionRowWithTab) {
  const std::string answers = "   Allow once   Allow always   Reject";
  std::optional<Menu> menu = read_all(full_screen(permission(answers)));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "△ Permission required\n  # Shell command\n$ touch notes.txt");
  EXPECT_EQ(labels(*menu), (Rows{"Allow once", "Allow always", "Reject"}));
  EXPECT_EQ(menu->navigation, kNavigateTab);
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->cancel, kNoCancel);
  EXPECT_TRUE(menu->highlight_selection);
  EXPECT_EQ(menu->rows.size(), 4u);
  EXPECT_EQ(menu->selected_row, 3u);

  struct Case {
    const char* name;
    std::string row;
    std::optional<size_t> selected;  // none: no menu
    size_t options = 3;
  };
  const Case cases[] = {
      {"the highlight on the second answer",
       "   Allow once   " + styled("30;43", " Allow always ") + "  Reject", 1},
      {"every answer on a background",
       "   " + styled("43", "Allow once") + "   " + styled("44", "Allow always") + "   " +
           styled("44", "Reject"),
       0},
      // Every cell of the row is an option, the hints after the answers too.
      {"key hints after the answers",
       "   Allow once   Allow always   Reject   ctrl+f fullscreen  ⇆ select  enter confirm", 0, 6},
      {"lower-case answers", "   yes   no", 0, 2},
      {"a key hint between the answers", "   Allow once   esc   Reject", std::nullopt},
      {"a tab hint first", "   tab   Allow once   Reject", std::nullopt},
      {"one answer", "   Allow once   Something else", std::nullopt},
      {"answers that are words of a sentence", "   Allow once and Reject later", std::nullopt},
  };
  for (const Case& c : cases) {
    menu = read_all(full_screen(permission(c.row)));
    if (!c.selected) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
    EXPECT_EQ(menu->options.size(), c.options) << c.name;
  }

  // The title must speak of a permission, and it stops at the first blank
  // row above the answers.
  EXPECT_EQ(read_all(full_screen(permission(answers, "△ Run this command?"))), std::nullopt);
  Rows spaced = permission(answers);
  spaced.insert(spaced.begin() + 4, "  ┃");
  EXPECT_EQ(read_all(full_screen(spaced)), std::nullopt);
}

TEST(OpenCodeRows, CutByVisibleColumnsKeepingStyles) {
  const std::string screen =
      screen_of({"ab\x1b[31mcd\x1b[0mef", "\x1b]0;title\x07xyz\x1b[2Kw", "短い"});
  EXPECT_EQ(opencode_rows(screen, 1, 4), "b\x1b[31mcd\x1b[0m\nyzw\nい");
  EXPECT_EQ(opencode_rows(screen, 3, std::nullopt), "\x1b[31md\x1b[0mef\nw\n");
  EXPECT_EQ(opencode_rows(screen, 1, std::nullopt), "b\x1b[31mcd\x1b[0mef\nyzw\nい");
  EXPECT_EQ(opencode_rows("a\r\nb", 0, std::nullopt), "a\nb");
}

}  // namespace
}  // namespace mossbank::screen
