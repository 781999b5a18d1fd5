#include "run/requests/slash_popups.h"

#include <gtest/gtest.h>

namespace mossbank::run {
namespace {

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

TEST(SlashPopups, OnlyOpenCodeHasAnEntry) {
  ASSERT_EQ(slash_popups().size(), 1u);
  EXPECT_EQ(slash_popups()[0].agent, "opencode");
  EXPECT_NE(agent_entry("opencode"), nullptr);
  EXPECT_EQ(agent_entry("OpenCode"), nullptr);
  EXPECT_EQ(agent_entry("claude"), nullptr);
  EXPECT_EQ(agent_entry("codex"), nullptr);
  EXPECT_EQ(agent_entry("_"), nullptr);
}

TEST(SlashPopups, OpenCodesPopupRow) {
  const SlashPopupEntry& opencode = *agent_entry("opencode");
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
  };
  for (const auto& c : cases) EXPECT_EQ(popup_command(opencode, c.screen), c.command) << c.screen;
}

TEST(MatchAgentTexts, DialogTitleRows) {
  EXPECT_TRUE(match_agent_texts("opencode", "body\n   Select model   esc  \nmore"));
  EXPECT_TRUE(match_agent_texts("opencode", "Themes                        esc"));
  EXPECT_FALSE(match_agent_texts("opencode", "Select model  esc"));
  EXPECT_FALSE(match_agent_texts("opencode", "Select model   escape"));
  EXPECT_FALSE(match_agent_texts("claude", "Select model   esc"));
}

TEST(CollectMatchTexts, CsiRemovedThenRows) {
  EXPECT_EQ(collect_match_texts("\x1b[1;31ma\x1b[0m\r\nb\x1b[?25l\n\nc"),
            (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(collect_match_texts("a\n"), std::vector<std::string>{"a"});
  EXPECT_TRUE(collect_match_texts("").empty());
  EXPECT_EQ(collect_match_texts("\x1b]0;title\x07x"),
            std::vector<std::string>{"\x1b]0;title\x07x"});
}

TEST(InputPatterns, CursorKeysAndPasteMarker) {
  for (const char* key : {"\x1b[A", "\x1bOB", "\x1b[;C", "\x1b[H", "\x1bOF",
                          "\x1b"
                          "dD"}) {
    EXPECT_TRUE(cursor_key_pattern.is_match(key)) << key + 1;
  }
  // The class holds "[", "d" and ";" but no digits: a key with modifiers is
  // not one of these.
  EXPECT_FALSE(cursor_key_pattern.is_match("\x1b[1;5C"));
  EXPECT_FALSE(cursor_key_pattern.is_match("\x1b[5~"));
  EXPECT_TRUE(pasted_marker_pattern.is_match("[Pastedtext#3+12lines]"));
  EXPECT_TRUE(pasted_marker_pattern.is_match("[Pastedtext#1]"));
  EXPECT_FALSE(pasted_marker_pattern.is_match("[Pasted text #1]"));
}

}  // namespace
}  // namespace mossbank::run
