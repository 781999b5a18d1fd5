#include "screen/agent_menu.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "screen/terminal_reader.h"
#include "screen/test_screens.h"

namespace mossbank::screen {
namespace {

using testing::dialog_screen;
using testing::full_screen;
using testing::labels;
using Labels = std::vector<std::string>;

const std::string kProceed =
    dialog_screen({"Do you want to proceed?", "❯ 1. Yes", "  2. No", "", "Esc to cancel"});

TEST(ReadMenu, DispatchByExactName) {
  const std::optional<Menu> generic = read_terminal(kProceed);
  ASSERT_TRUE(generic);
  for (std::optional<std::string_view> agent :
       {std::optional<std::string_view>(), std::optional<std::string_view>("claude"),
        std::optional<std::string_view>("Claude"), std::optional<std::string_view>("cursor"),
        std::optional<std::string_view>(""), std::optional<std::string_view>("someone")}) {
    EXPECT_EQ(read_menu(agent, kProceed), generic) << agent.value_or("(none)");
  }
  // Agents with readers of their own do not take the generic path; the
  // generic layout is no menu of theirs, except that Grok's numbered lists
  // have the same "❯" cursor.
  for (std::string_view agent : {"codex", "opencode", "kilo", "kilocode", "antigravity"}) {
    EXPECT_EQ(read_menu(agent, kProceed), std::nullopt) << agent;
  }
  std::optional<Menu> grok = read_menu("grok", kProceed);
  ASSERT_TRUE(grok);
  EXPECT_EQ(grok->title, "Do you want to proceed?");
  EXPECT_EQ(labels(*grok), (Labels{"1. Yes", "2. No"}));
}

TEST(ReadMenu, NoneWhileThePromptSearchIsOpen) {
  const std::string screen =
      dialog_screen({"Search prompts · 3 matches", "❯ fix the tests", "  add a benchmark", "",
                     "Enter to use · Esc to cancel"});
  for (std::optional<std::string_view> agent :
       {std::optional<std::string_view>("claude"), std::optional<std::string_view>("cursor"),
        std::optional<std::string_view>("someone"), std::optional<std::string_view>()}) {
    EXPECT_EQ(read_menu(agent, screen), std::nullopt) << agent.value_or("(none)");
  }
  ASSERT_TRUE(read_terminal(screen));
  EXPECT_TRUE(read_menu(
      "copilot", dialog_screen({"Search prompts", "❯ 1. fix the tests", "  2. add a benchmark", "",
                                "Enter to use · Esc to cancel"})));
}

// Claude Code's folder-trust question, with the options as `options`.
std::string trust_screen(const std::vector<std::string>& options,
                         const std::string& question_line =
                             "Quick safety check: Is this a project you created or one you "
                             "trust? (Like your own code, a well-known open source project, or "
                             "work from your team). If not, take a moment to review what's in "
                             "this folder first.") {
  std::vector<std::string> rows = {
      "Accessing workspace:",
      "",
      "/home/user/projects/mossbank",
      "",
      question_line,
      "",
      "Claude Code'll be able to read, edit, and execute files here.",
      "",
  };
  rows.insert(rows.end(), options.begin(), options.end());
  rows.insert(rows.end(), {"", "Enter to confirm · Esc to cancel"});
  return dialog_screen(rows);
}

TEST(ReadMenu, TrustQuestionComesFirst) {
  const std::string screen = trust_screen({"❯ Yes, I trust this folder", "  No, exit"});
  for (std::optional<std::string_view> agent :
       {std::optional<std::string_view>("claude"), std::optional<std::string_view>()}) {
    std::optional<Menu> menu = read_menu(agent, screen);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->title,
              "Quick safety check: Is this a project you created or one you trust? (Like your own "
              "code, a well-known open source project, or work from your team). If not, take a "
              "moment to review what's in this folder first.\n\nClaude Code'll be able to read, "
              "edit, and execute files here.\n\nAccessing workspace:\n\n"
              "/home/user/projects/mossbank");
    EXPECT_EQ(menu->text, menu->title + "\nYes, I trust this folder\nNo, exit");
    EXPECT_EQ(labels(*menu), (Labels{"Yes, I trust this folder", "No, exit"}));
    // The rows stay those of the screen.
    EXPECT_EQ(menu->rows.front(), "Accessing workspace:");
  }
}

TEST(ReadMenu, TrustRewriteLeavesOtherMenusAlone) {
  struct Case {
    const char* name;
    std::string screen;
  };
  const Case cases[] = {
      // Numbered options keep their numbers in their labels, so the labels
      // are not the two the rewrite knows.
      {"numbered options", trust_screen({"❯ 1. Yes, I trust this folder", "  2. No, exit"})},
      {"other options", trust_screen({"❯ Yes, I trust this folder", "  No"})},
      {"three options",
       trust_screen({"❯ Yes, I trust this folder", "  No, exit", "  Maybe later"})},
      {"a reworded question", trust_screen({"❯ Yes, I trust this folder", "  No, exit"},
                                           "Quick safety check: is this folder yours?")},
      {"no workspace line", dialog_screen({"Do you trust the contents of this project?", "",
                                           "❯ Yes, I trust this folder", "  No, exit"})},
      {"the question already first", dialog_screen({"Do you trust the contents of this project?",
                                                    "Accessing workspace:", "/home/user/p", "",
                                                    "❯ Yes, I trust this folder", "  No, exit"})},
  };
  for (const Case& c : cases) {
    std::optional<Menu> generic = read_terminal(c.screen);
    ASSERT_TRUE(generic) << c.name;
    EXPECT_EQ(read_menu("claude", c.screen), generic) << c.name;
  }
}

TEST(ReadClaudeTrust, TheDoYouTrustForm) {
  Menu menu;
  menu.title = "Accessing workspace:\n\n/srv/app\n\nDo you trust the contents of this\nproject?";
  menu.options = {new_menu_option("No, exit"), new_menu_option("Yes, I trust this folder")};
  menu_text(menu);
  const Menu out = read_claude_trust(menu);
  EXPECT_EQ(out.title,
            "Do you trust the contents of this\nproject?\n\nAccessing workspace:\n\n/srv/app");
  EXPECT_EQ(out.text, out.title + "\nNo, exit\nYes, I trust this folder");
}

// Claude Code's background-task list: an overlay, not a question.
const std::vector<std::string> kTaskList = {
    "Background tasks",
    "❯ ● main",
    "  ○ npm run dev",
    "",
    "↑/↓ to select · Enter to view · Esc to close",
};

TEST(ReadMenu, ClaudeOverlaysAreNoQuestion) {
  const std::string screen = dialog_screen(kTaskList);
  EXPECT_EQ(read_menu("claude", screen), std::nullopt);
  EXPECT_TRUE(claude_overlay(screen));
  // Other agents, and Claude Code with its name written otherwise, read it.
  EXPECT_TRUE(read_menu("cursor", screen));
  EXPECT_TRUE(read_menu("Claude", screen));

  // Both hints are needed in the last six rows.
  std::vector<std::string> far = kTaskList;
  far.insert(far.end(), 6, "");
  EXPECT_FALSE(claude_overlay(dialog_screen(far)));
  std::vector<std::string> no_close = kTaskList;
  no_close.back() = "↑/↓ to select";
  EXPECT_TRUE(read_menu("claude", dialog_screen(no_close)));
  // Another list under the same hints is no overlay of this kind.
  std::vector<std::string> other = kTaskList;
  other[1] = "❯ ● first";
  EXPECT_TRUE(read_menu("claude", dialog_screen(other)));
}

TEST(ReadMenu, ClaudeTitleStartsBelowAClosedOverlay) {
  std::vector<std::string> rows = kTaskList;
  rows.insert(rows.end(), {"Do you want to proceed?", "❯ 1. Yes", "  2. No"});
  const std::string screen = dialog_screen(rows);
  std::optional<Menu> generic = read_menu("cursor", screen);
  ASSERT_TRUE(generic);
  ASSERT_EQ(generic->rows.front(), "Background tasks");

  std::optional<Menu> menu = read_menu("claude", screen);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Do you want to proceed?");
  EXPECT_EQ(menu->text, "Do you want to proceed?\n1. Yes\n2. No");
  EXPECT_EQ(menu->rows, (Labels{"Do you want to proceed?", "❯ 1. Yes", "  2. No"}));
  EXPECT_EQ(menu->selected_row, 1u);
  EXPECT_EQ(menu->options, generic->options);
}

TEST(IsAgentCommandCenter, ExactTitleAndAnAgent) {
  const std::string screen = dialog_screen({"Agent command center", "❯ Back to session", "  Quit"});
  EXPECT_TRUE(is_agent_command_center("cursor", screen));
  EXPECT_FALSE(is_agent_command_center(std::nullopt, screen));
  EXPECT_FALSE(is_agent_command_center(
      "cursor", dialog_screen({"agent command center", "❯ Back to session", "  Quit"})));
  EXPECT_FALSE(is_agent_command_center("cursor", kProceed));
}

// A Copilot list in its frame.
std::vector<std::string> copilot_rows(const std::vector<std::string>& options,
                                      const std::vector<std::string>& below = {}) {
  std::vector<std::string> rows = {
      "╭──────────────────────────────────────────────╮",
      "│ Run this command?                            │",
      "│ npm test                                     │",
  };
  for (const std::string& o : options) rows.push_back("│ " + o);
  rows.push_back("╰──────────────────────────────────────────────╯");
  rows.insert(rows.end(), below.begin(), below.end());
  return rows;
}

TEST(ReadMenu, CopilotFramedLists) {
  std::optional<Menu> menu =
      read_menu("copilot",
                full_screen(copilot_rows({"❯ 1. Yes", "  2. No, and tell Copilot what to do (Esc)"},
                                         {"Confirm with number keys or ↑↓ keys and Enter"})));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "Run this command?\nnpm test");
  EXPECT_EQ(labels(*menu), (Labels{"1. Yes", "2. No, and tell Copilot what to do"}));
  EXPECT_EQ(menu->options[1].key, "esc");
  EXPECT_EQ(menu->cancel, kCancelByEsc);
  EXPECT_EQ(menu->selected, 0u);
  EXPECT_EQ(menu->navigation, kNavigateArrows);
  EXPECT_EQ(menu->selected_row, 2u);
  EXPECT_FALSE(menu->highlight_selection);

  // An esc hint below the list.
  menu =
      read_menu("copilot", full_screen(copilot_rows({"  1. Yes", "› 2. No"}, {"Esc to cancel"})));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->selected, 1u);
  EXPECT_EQ(menu->cancel, kCancelByEsc);

  // A blank row ends the title.
  menu = read_menu("copilot", full_screen({"Question", "", "❯ 1. Yes", "  2. No"}));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->title, "");
  EXPECT_EQ(menu->cancel, kNoCancel);
}

TEST(ReadMenu, CopilotNeedsACursorAndNoPromptBelow) {
  // Selected only by inverse video.
  EXPECT_EQ(read_menu("copilot", full_screen(copilot_rows({"\x1b[7m1. Yes\x1b[0m", "2. No"}))),
            std::nullopt);
  // No selection at all: a numbered list in the transcript.
  EXPECT_EQ(read_menu("copilot", full_screen({"Steps:", "1. Build", "2. Test", "3. Ship"})),
            std::nullopt);
  // The ">" prompt below it.
  EXPECT_EQ(read_menu("copilot", full_screen(copilot_rows({"❯ 1. Yes", "  2. No"}, {"", ">  "}))),
            std::nullopt);
  EXPECT_EQ(read_menu("copilot", full_screen(copilot_rows({"❯ 1. Yes", "  2. No"}, {"> fix it"}))),
            std::nullopt);
  // A ">" that starts a word is no prompt.
  EXPECT_TRUE(read_menu("copilot", full_screen(copilot_rows({"❯ 1. Yes", "  2. No"}, {">>= 3"}))));
}

}  // namespace
}  // namespace mossbank::screen
