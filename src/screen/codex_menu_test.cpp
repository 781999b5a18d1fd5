#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/command_line.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::concat;
using testing::full_screen;
using testing::labels;
using Rows = std::vector<std::string>;

// Codex's approval question under the transcript, as Codex 0.171 draws it
// (blank rows left empty).
const Rows kApproval = {
    "› please create notes.txt",
    "",
    "• Running touch notes.txt",
    "",
    "  Would you like to run the following command?",
    "",
    "  $ touch notes.txt",
    "",
    "› 1. Yes, proceed (y)",
    "  2. Yes, and don't ask again for commands that start with `touch` (p)",
    "  3. No, and tell Codex what to do differently (esc)",
    "",
    "  Press enter to confirm or esc to cancel",
};

TEST(CodexMenu, NumberedApproval) {
  std::optional<Menu> menu = read_menu("codex", full_screen(kApproval));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Would you like to run the following command?\n\n$ touch notes.txt");
  EXPECT_EQ(labels(*menu),
            (Rows{"1. Yes, proceed",
                  "2. Yes, and don't ask again for commands that start with `touch` (p)",
                  "3. No, and tell Codex what to do differently"}));
  EXPECT_EQ(menu->options[0].key, "y");
  EXPECT_EQ(menu->options[2].key, "esc");
  EXPECT_EQ(menu->navigation, kNavigateNumber);
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_EQ(menu->rows.front(), "  Would you like to run the following command?");
  EXPECT_EQ(menu->selected_row, 4u);
  EXPECT_FALSE(menu->highlight_selection);
  // The dispatch takes this reader for "codex" only.
  EXPECT_EQ(read_menu("codex", full_screen(kApproval)), menu);
}

TEST(CodexMenu, TitleStopsAtTranscriptItems) {
  struct Case {
    const char* name;
    Rows above;  // rows above "› 1. Yes"
    std::string title;
  };
  const Case cases[] = {
      {"a bullet", {"• Ran ls", "Pick one"}, "Pick one"},
      {"a tool result", {"└ done", "Pick one"}, "Pick one"},
      {"the composer", {"› fix it", "Pick one"}, "Pick one"},
      {"a numbered answer row", {"3. Ship it", "Pick one"}, "Pick one"},
      {"a slash command's row", {"/model - choose what model to use", "Pick one"}, "Pick one"},
      {"the retry hint", {"r retry   f fork", "Pick one"}, "Pick one"},
      {"the first-start hint", {"To get started, describe a task", "Pick one"}, "Pick one"},
      {"Worked for and the scroll mark passed over",
       {"• Ran ls", "Pick one", "Worked for 12s", "↑"},
       "Pick one"},
      {"two blank rows kept", {"• Ran ls", "Pick one", "", "", "Really?"}, "Pick one\n\n\nReally?"},
      {"three blank rows end it", {"Pick one", "", "", "", "Really?"}, "Really?"},
      // A row of printed blanks is a frame row to the shared title walk: the
      // title stops there (Codex paints its blank rows with spaces).
      {"a printed blank row", {"Pick one", "      ", "Really?"}, "Really?"},
  };
  for (const Case& c : cases) {
    const Rows bottom = concat(concat({"• Ran tests"}, c.above), {"› 1. Yes", "  2. No"});
    std::optional<Menu> menu = read_menu("codex", full_screen(bottom));
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, c.title) << c.name;
  }
}

TEST(CodexMenu, UnnumberedSelectedLastOptionGetsItsNumber) {
  struct Case {
    const char* name;
    Rows rows;
    std::optional<Rows> labels;  // none: no menu
  };
  const Case cases[] = {
      {"three blanks after the cursor",
       {"  1. Yes", "  2. No", "›   Something else"},
       Rows{"1. Yes", "2. No", "3. Something else"}},
      {"the label one column right of the others'",
       {"  1. Yes", "  2. No", "›     Something else"},
       Rows{"1. Yes", "2. No", "3. Something else"}},
      {"two columns right", {"  1. Yes", "  2. No", "›      Something else"}, std::nullopt},
      {"a further numbered row below",
       {"  1. Yes", "  2. No", "›   Something else", "  3. Other"},
       std::nullopt},
      {"no numbered row above", {"  Options:", "›   Something else", "  1. Other"}, std::nullopt},
      {"one blank after the cursor is an ordinary row",
       {"  1. Yes", "  2. No", "› Something else"},
       std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu =
        read_menu("codex", full_screen(concat({"• Ran tests", "Pick one"}, c.rows)));
    if (!c.labels) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(labels(*menu), *c.labels) << c.name;
    EXPECT_EQ(menu->selected, 2u) << c.name;
    // The menu's rows are the screen's, not the renumbered texts.
    EXPECT_EQ(menu->rows.back(), c.rows.back()) << c.name;
  }
}

TEST(CodexMenu, BackToTheCommandCenterIsHidden) {
  const Rows trust_top = {"  Folder access", "  /home/me/project", "", "  Trust this folder?", ""};
  struct Case {
    const char* name;
    Rows options;
    Rows labels;
    std::optional<size_t> selected;
    uint8_t cancel;
  };
  const Case cases[] = {
      {"the cursor on a kept option",
       {"› 1. Trust and continue", "  2. Back to Agent Command Center"},
       {"1. Trust and continue"},
       0,
       kNoCancel},
      {"the cursor on the hidden option",
       {"  1. Trust and continue", "› 2. Back to agent command center"},
       {"1. Trust and continue"},
       std::nullopt,
       kNoCancel},
      {"only as option 2",
       {"› 1. Yes", "  2. No", "  3. Back to Agent Command Center"},
       {"1. Yes", "2. No", "3. Back to Agent Command Center"},
       0,
       kCancelByEsc},
  };
  for (const Case& c : cases) {
    const Rows bottom = concat(concat(trust_top, c.options), {"", "  enter continue · esc back"});
    std::optional<Menu> menu = read_menu("codex", full_screen(concat({"• Ran tests"}, bottom)));
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(labels(*menu), c.labels) << c.name;
    EXPECT_EQ(menu->selected, c.selected) << c.name;
    // With the option gone, the esc hint (back to the center) no longer
    // cancels this menu.
    EXPECT_EQ(menu->cancel, c.cancel) << c.name;
    EXPECT_EQ(menu->title, "Folder access\n/home/me/project\n\nTrust this folder?") << c.name;
    EXPECT_EQ(menu->rows[*menu->selected_row].substr(0, 3), "›") << c.name;
  }
}

TEST(CodexMenu, AListAboveTheComposerIsTranscript) {
  const Rows list = {"• Ran tests", "Pick one", "› 1. Yes", "  2. No", ""};
  struct Case {
    const char* composer;
    bool menu;
  };
  const Case cases[] = {
      {"› Ask Codex to do anything", false},
      {"›  fix the build", false},
      {"› 3. Other", true},  // a numbered "›" row is an option row
      {"›", true},           // an empty prompt row has no text
      {"  ? for shortcuts", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_menu("codex", full_screen(concat(list, {c.composer}))).has_value(), c.menu)
        << c.composer;
  }
  // Selected by highlight only: no Codex menu.
  EXPECT_EQ(read_menu("codex", full_screen({"Pick one", "\x1b[7m1. Yes\x1b[0m", "2. No"})),
            std::nullopt);
}

// The agent command center: a heading, the session tabs, a fixed footer.
Rows center(const std::string& heading, const std::string& footer, bool tabs = true) {
  Rows rows = {heading, ""};
  if (tabs) rows.push_back("All 3   Needs you 1   Running 2");
  rows.insert(rows.end(),
              {"", "  fix the flaky test        needs you", "  write the docs", "", footer});
  return rows;
}

TEST(CodexMenu, AgentCommandCenter) {
  const std::string with_esc = "? help   esc back   ↑/↓ move   enter open   n new";
  const std::string without_esc = "? help   ↑/↓ move   enter open   n new";
  struct Case {
    const char* name;
    Rows rows;
    bool center;
    bool esc_back;
  };
  const Case cases[] = {
      {"tabs and the footer with esc back", center("Agent command center", with_esc), true, true},
      {"the footer alone", center("Agent command center", with_esc, false), true, true},
      {"the footer without esc back", center("Agent command center", without_esc, false), true,
       false},
      {"the short move hint",
       center("Agent command center", "? help   / move   enter open   n new", false), true, false},
      {"tabs without the footer", center("Agent command center", "loading sessions…"), true, false},
      {"a group in the heading", center("AGENT COMMAND CENTER   Group: work", with_esc), true,
       true},
      {"neither tabs nor footer", center("Agent command center", "loading sessions…", false), false,
       false},
      {"the composer's shortcuts hint",
       center("Agent command center", with_esc + "   ? for shortcuts"), false, false},
      {"a heading with more after it", center("Agent command center is open", with_esc), false,
       false},
  };
  for (const Case& c : cases) {
    const std::string screen = full_screen(c.rows);
    std::optional<Menu> menu = read_menu("codex", screen);
    EXPECT_EQ(is_agent_command_center("codex", screen), c.center) << c.name;
    if (!c.center) {
      EXPECT_TRUE(!menu || menu->title != "Agent command center") << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, "Agent command center") << c.name;
    EXPECT_EQ(labels(*menu), Rows{"Back to session"}) << c.name;
    EXPECT_EQ(menu->navigation, kNavigateKey) << c.name;
    EXPECT_EQ(menu->selected, 0u) << c.name;
    EXPECT_EQ(menu->rows.front(), c.rows.front()) << c.name;
    EXPECT_EQ(menu->rows.back(), c.rows.back()) << c.name;
    EXPECT_EQ(menu->selected_row, menu->rows.size() - 1) << c.name;
    // The key is the Esc byte: a keys request for the center sends exactly
    // that. The menu's text still says what Esc does.
    EXPECT_EQ(menu->options[0].key, c.esc_back ? std::optional<std::string>("\x1b") : std::nullopt)
        << c.name;
    EXPECT_EQ(menu->cancel, c.esc_back ? kCancelByEsc : kNoCancel) << c.name;
    EXPECT_EQ(menu->text, std::string("Agent command center\nBack to session\n") +
                              (c.esc_back ? "esc back" : "no return"))
        << c.name;
  }
}

TEST(CodexMenu, CommandCenterComesBeforeAList) {
  // The center's session list can hold numbered rows; the center wins.
  Rows rows = center("Agent command center", "? help   esc back   ↑/↓ move   enter open   n new");
  rows.insert(rows.begin() + 4, {"› 1. Yes", "  2. No"});
  std::optional<Menu> menu = read_menu("codex", full_screen(rows));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Agent command center");
}

// The notice Codex shows when the conversation is open in another app.
Rows notice(const Rows& between, const Rows& footer) {
  Rows rows = {"• This conversation is open in another app"};
  rows.insert(rows.end(), between.begin(), between.end());
  rows.insert(rows.end(), footer.begin(), footer.end());
  return rows;
}

TEST(CodexMenu, OpenInAnotherApp) {
  const Rows body = {"", "  Close it there and press R to", "  continue here.", ""};
  const Rows footer = {"r retry   f fork", "←/esc command center   ⌃c/q exit   ⌃t transcript"};
  struct Case {
    const char* name;
    Rows rows;
    bool menu;
  };
  const Case cases[] = {
      {"the notice", notice(body, footer), true},
      {"the footer on one row", notice(body, {"R RETRY  F FORK  ←/Esc command center  ⌃C/q exit"}),
       true},
      {"a blank row inside the footer",
       notice(body, {"r retry   f fork", "", "←/esc command center   ⌃c/q exit"}), true},
      {"without the exit hint", notice(body, {"r retry   f fork", "←/esc command center"}), false},
      {"without the body", notice({"", "  Something else.", ""}, footer), false},
      {"the retry row too far below", notice(concat(body, {"", "", "", ""}), footer), false},
      {"the footer three rows below the retry row",
       notice(body, {"r retry   f fork", "", "", "←/esc command center   ⌃c/q exit"}), false},
      {"the title inside a longer word",
       concat({"• This conversation is open in another apple", "",
               "  Close it there and press R to continue here.", ""},
              footer),
       false},
  };
  for (const Case& c : cases) {
    std::optional<Menu> menu = read_menu("codex", full_screen(c.rows));
    if (!c.menu) {
      EXPECT_EQ(menu, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(menu) << c.name;
    EXPECT_EQ(menu->title, "This conversation is open in another app") << c.name;
    EXPECT_EQ(labels(*menu), (Rows{"retry", "fork"})) << c.name;
    EXPECT_EQ(menu->options[0].key, "r") << c.name;
    EXPECT_EQ(menu->options[1].key, "f") << c.name;
    EXPECT_EQ(menu->navigation, kNavigateKey) << c.name;
    EXPECT_EQ(menu->cancel, kCancelByEsc) << c.name;
    EXPECT_EQ(menu->rows.front(), c.rows.front()) << c.name;
    EXPECT_EQ(menu->rows.back(), c.rows.back()) << c.name;
    EXPECT_EQ(menu->rows[*menu->selected_row], c.rows[5]) << c.name;
  }
}

TEST(CodexMenu, ReadEvenWhileThePromptSearchIsOpen) {
  const std::string screen = full_screen(concat(concat({"Search prompts · 2 matches"}, kApproval),
                                                {"  Enter to use · Esc to cancel"}));
  ASSERT_TRUE(is_prompt_search(screen));
  EXPECT_TRUE(read_menu("codex", screen));
  EXPECT_EQ(read_menu("claude", screen), std::nullopt);
}

}  // namespace
}  // namespace mossbank::screen
