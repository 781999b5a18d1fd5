#include "run/requests/new_conversation.h"

#include <gtest/gtest.h>

#include <vector>

namespace mossbank::run {
namespace {

TEST(NewConversationTable, EntriesInOrder) {
  const auto& table = new_conversation_table();
  std::vector<std::string> agents;
  for (const auto& e : table) agents.push_back(e.agent);
  EXPECT_EQ(agents,
            (std::vector<std::string>{"opencode", "claude", "codex", "antigravity", "grok"}));
  EXPECT_FALSE(table[0].box);  // OpenCode's box is its side box
  EXPECT_EQ(table[0].commands, std::vector<std::string>{"/new"});
  EXPECT_EQ(table[1].commands, std::vector<std::string>{"/clear"});
  EXPECT_TRUE(table[3].commands.empty());
  EXPECT_EQ(table[4].ghost, "88;88;88");
}

const char* const kRule = "────────────────────────────────────────";

std::string claude_box(const std::string& line) {
  return std::string("history\n") + kRule + "\n❯\u00a0" + line + "\n" + kRule +
         "\n  ⏸ manual mode on";
}

std::string opencode_box(const std::string& line) {
  return "   ┃\n   ┃  " + line + "\n   ┃\n   ┃  Build · Stand-in model Stand-in\n   ╹▀▀▀▀▀▀▀▀▀▀\n";
}

TEST(ReadBoxLine, ByAgent) {
  struct Case {
    const char* agent;
    std::string screen;
    std::optional<std::string> line;
  };
  const std::vector<Case> cases = {
      {"claude", claude_box("/clear  "), "/clear"},
      {"claude", claude_box(" "), std::nullopt},
      {"claude", "❯ older prompt\n" + claude_box("newer"), "newer"},  // the lowest box row
      {"claude", "\x1b[0;2m❯ in\x1b[0mside", "inside"},               // CSI sequences go first
      {"claude", "no box here", std::nullopt},
      {"codex", "› hello codex\n\n  ? for shortcuts", "hello codex"},
      {"antigravity", ">\tthere", "there"},
      {"grok", "  │ > Type a message... │", std::nullopt},
      {"grok", "  │ > what now       │", "what now"},
      {"grok", "  │ >                │", std::nullopt},
      {"opencode", opencode_box("/new"), "/new"},
      {"opencode", opencode_box("Ask anything… \"Fix broken tests\""), std::nullopt},
      {"muse", "❯ hello", std::nullopt},
      {"", "❯ hello", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(read_box_line(c.agent, c.screen), c.line) << c.agent << ": " << c.screen;
}

TEST(BlankUntyped, FaintAndGhostCharactersGo) {
  struct Case {
    const char* styled;
    const char* ghost;
    const char* plain;
  };
  const std::vector<Case> cases = {
      {"ab\x1b[0;2mcd\x1b[0mef", nullptr, "ab  ef"},
      {"a\x1b[2mb\x1b[22mc", nullptr, "a c"},
      {"a\x1b[0;38;2;88;88;88mbc\x1b[0m\nd", "88;88;88", "a  \nd"},
      {"a\x1b[38;2;88;88;88mb\x1b[39mc", "88;88;88", "a c"},
      {"a\x1b[38;2;88;88;88mb\x1b[31mc", "88;88;88", "a c"},
      {"a\x1b[38;2;88;88;89mb", "88;88;88", "ab"},
      {"a\x1b[38:2:88:88:88mb\x1b[38;5;8mc", "88;88;88", "a c"},
      {"a\x1b[48;2;88;88;88mb", "88;88;88", "ab"},  // a background is no suggestion
      {"a\x1b[2mb\nc", nullptr, "a \nc"},           // each row starts plain
      {"wide \x1b[2m你好\x1b[0m", nullptr, "wide   "},
      {"osc\x1b]0;title\x07 kept", nullptr, "osc kept"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string_view> ghost =
        c.ghost ? std::optional<std::string_view>(c.ghost) : std::nullopt;
    EXPECT_EQ(blank_untyped(c.styled, ghost), c.plain) << c.styled;
  }
}

TEST(TypedLinePost, CommandsLinesAndNothing) {
  const std::string long_line(5000, 'x');
  struct Case {
    const char* agent;
    std::string plain;
    std::string styled;
    std::optional<LinePost> post;
  };
  const std::vector<Case> cases = {
      {"claude", claude_box("/clear"), claude_box("/clear"), LinePost{"/command", "/clear"}},
      {"claude", claude_box("/model"), claude_box("/model"), std::nullopt},
      {"claude", claude_box("!ls"), claude_box("!ls"), std::nullopt},
      {"claude", claude_box("fix it"), claude_box("fix it"), LinePost{"/typed", "fix it"}},
      // A hint drawn faint is not typed.
      {"claude", claude_box("Try it"), claude_box("\x1b[0;2mTry it\x1b[0m"), std::nullopt},
      {"codex", "› /new", "› /new", LinePost{"/command", "/new"}},
      {"codex", "› " + long_line, "› " + long_line, LinePost{"/typed", std::string(4000, 'x')}},
      // Grok's suggestion in its ghost colour, and its placeholder.
      {"grok", "  │ > do this │", "  │ > \x1b[0;38;2;88;88;88mdo this\x1b[0m │", std::nullopt},
      {"grok", "  │ > Type a message... │", "  │ > Type a message... │", std::nullopt},
      {"opencode", opencode_box("/new"), opencode_box("/new"), LinePost{"/command", "/new"}},
      {"opencode", opencode_box("hello"), opencode_box("hello"), LinePost{"/typed", "hello"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(typed_line_post(c.agent, c.plain, c.styled), c.post) << c.agent << ": " << c.styled;
}

TEST(TypedLinePost, FourThousandCharactersNotBytes) {
  const std::string line = std::string(3999, 'a') + "你好";
  std::optional<LinePost> post = typed_line_post("codex", "› " + line, "› " + line);
  ASSERT_TRUE(post);
  EXPECT_EQ(post->line, std::string(3999, 'a') + "你");
}

}  // namespace
}  // namespace mossbank::run
