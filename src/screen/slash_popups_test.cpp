#include "screen/slash_popups.h"

#include <gtest/gtest.h>

#include "screen/agent_profiles.h"

namespace mossbank::screen {
namespace {

const SlashPopupRule& opencode_popup() { return *agent_profile("opencode")->slash_popup; }

TEST(SlashCommandWord, LeadingCommandOnly) {
  const struct {
    const char* text;
    std::optional<std::string> command;
  } cases[] = {
      {"/models gpt and more", "/models"}, {"/new", "/new"},           {"/new\tx", "/new"},
      {"/review-pr 12", "/review-pr"},     {"/Models", std::nullopt},  {"models", std::nullopt},
      {" /models", std::nullopt},          {"/models.", std::nullopt}, {"/", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(slash_command_word(c.text), c.command) << c.text;
}

TEST(SlashPopups, OnlyOpenCodeHasARule) {
  for (const AgentProfile& row : agent_profiles()) {
    EXPECT_EQ(row.slash_popup != nullptr, row.name == "opencode") << row.name;
  }
}

TEST(SlashPopups, OpenCodesPopupRow) {
  const struct {
    std::string screen;
    std::optional<std::string> command;
  } cases[] = {
      {"┃ /models  Switch model", "/models"},
      {"┃ /models Switch model", std::nullopt},
      {"┃ /models  ", std::nullopt},
      {"  ┃ /models  Switch model", std::nullopt},
      {"\x1b[7m┃ /models\x1b[0m  Switch model", "/models"},                // styling removed first
      {"header\r\n┃ /new  New session\n┃ /models  Switch model", "/new"},  // the first row wins
      {"┃ /exit  x\n", "/exit"},
      {"\x1b]0;title\x07┃ /new  x", std::nullopt},  // an OSC string is not styling
      {"", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(popup_command(opencode_popup(), c.screen), c.command) << c.screen;
}

TEST(DialogOpen, DialogTitleRows) {
  const struct {
    const char* screen;
    bool open;
  } cases[] = {
      {"body\n   Select model   esc  \nmore", true},
      {"Themes                        esc", true},
      {"\x1b[1;31mThemes\x1b[0m   esc\r\n", true},
      {"Select model  esc", false},
      {"Select model   escape", false},
      {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(dialog_open(opencode_popup(), c.screen), c.open) << c.screen;
}

TEST(InputPatterns, PasteMarker) {
  EXPECT_TRUE(pasted_marker_pattern.is_match("[Pastedtext#3+12lines]"));
  EXPECT_TRUE(pasted_marker_pattern.is_match("[Pastedtext#1]"));
  EXPECT_FALSE(pasted_marker_pattern.is_match("[Pasted text #1]"));
}

}  // namespace
}  // namespace mossbank::screen
