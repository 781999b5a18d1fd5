#include "screen/box_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace mossbank::screen {
namespace {

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
      // An underline colour's own numbers are no faint code.
      {"a\x1b[58;2;1;2;3mb", nullptr, "ab"},
      {"a\x1b[38;2;88;88;88mb\x1b[38mc", "88;88;88", "a  "},  // a bare 38 changes nothing
      {"a\x1b[38;2;88;88;88mb\x1b[38;5;7mc", "88;88;88", "a c"},
      {"a\x1b[38;2;88;88;88mb\x1b[0mc", "88;88;88", "a c"},
      {"a\x1b[38;2;88;88;88mb", nullptr, "ab"},  // no ghost colour: nothing is a suggestion
      {"a\x1b", nullptr, "a"},                   // a lone ESC at the end
  };
  for (const Case& c : cases) {
    const std::optional<std::string_view> ghost =
        c.ghost ? std::optional<std::string_view>(c.ghost) : std::nullopt;
    EXPECT_EQ(blank_untyped(c.styled, ghost), c.plain) << c.styled;
  }
}

TEST(ReadTypedLine, CommandsLinesAndNothing) {
  struct Case {
    const char* agent;
    std::string plain;
    std::string styled;
    std::optional<TypedLine> line;
  };
  const std::vector<Case> cases = {
      {"claude", claude_box("/clear"), claude_box("/clear"), TypedLine{true, "/clear"}},
      {"claude", claude_box("fix it"), claude_box("fix it"), TypedLine{false, "fix it"}},
      {"claude", claude_box("/model"), claude_box("/model"), std::nullopt},
      {"claude", claude_box("!ls"), claude_box("!ls"), std::nullopt},
      // A hint drawn faint is not typed.
      {"claude", claude_box("Try it"), claude_box("\x1b[0;2mTry it\x1b[0m"), std::nullopt},
      // Grok's suggestion in its ghost colour, and its placeholder.
      {"grok", "  │ > do this │", "  │ > \x1b[0;38;2;88;88;88mdo this\x1b[0m │", std::nullopt},
      {"grok", "  │ > Type a message... │", "  │ > Type a message... │", std::nullopt},
      {"grok", "  │ > do this │", "  │ > do this │", TypedLine{false, "do this"}},
      // "/new" starts a new conversation in Codex, not in Claude Code.
      {"codex", "› /new", "› /new", TypedLine{true, "/new"}},
      {"claude", claude_box("/new"), claude_box("/new"), std::nullopt},
      // Antigravity has no such command: its slash lines are not told.
      {"antigravity", "> /new", "> /new", std::nullopt},
      {"antigravity", "> hello", "> hello", TypedLine{false, "hello"}},
      {"opencode", opencode_box("/new"), opencode_box("/new"), TypedLine{true, "/new"}},
      {"opencode", opencode_box("hello"), opencode_box("hello"), TypedLine{false, "hello"}},
      {"kilo", opencode_box("hello"), opencode_box("hello"), std::nullopt},  // its box is not read
      {"", "❯ hello", "❯ hello", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(read_typed_line(c.agent, c.plain, c.styled), c.line) << c.agent << ": " << c.styled;
}

}  // namespace
}  // namespace mossbank::screen
