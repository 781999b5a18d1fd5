#include "screen/typing_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

std::string keys_of(const TypingProfile& p) {
  std::string out;
  for (InterruptKey k : p.interrupt_keys) out += interrupt_key_bytes(k);
  return out;
}

TEST(TypingProfile, ByExactName) {
  struct Case {
    std::string name;
    std::string keys;
    Typing typing;
  };
  const Case cases[] = {
      {"claude", "\x1b", Typing::kLines},        {"cursor", "\x1b", Typing::kLines},
      {"auggie", "\x1b", Typing::kLines},        {"cn", "\x1b", Typing::kLines},
      {"kimi", "\x1b", Typing::kLines},          {"cline", "\x1b", Typing::kLines},
      {"copilot", "\x1b\x1b", Typing::kLines},   {"opencode", "\x1b\x1b", Typing::kLines},
      {"kilocode", "\x1b\x1b", Typing::kLines},  {"kilo", "\x1b\x1b", Typing::kLines},
      {"crush", "\x1b\x1b", Typing::kLines},     {"grok", "\x03", Typing::kLinesToo},
      {"codex", "\x1b", Typing::kLinesToo},      {"goose", "\x03", Typing::kOneLine},
      {"hermes", "\x03", Typing::kOneLine},      {"muse", "\x1b", Typing::kOneLine},
      {"antigravity", "\x1b", Typing::kOneLine}, {"agent", "\x1b", Typing::kOneLine},
      {"Claude", "\x1b", Typing::kOneLine},      {"", "\x1b", Typing::kOneLine},
      {"codex ", "\x1b", Typing::kOneLine},
  };
  for (const Case& c : cases) {
    const TypingProfile p = typing_profile(c.name);
    EXPECT_EQ(keys_of(p), c.keys) << c.name;
    EXPECT_EQ(p.typing, c.typing) << c.name;
    EXPECT_EQ(p.is_codex, c.name == "codex") << c.name;
  }
}

}  // namespace
}  // namespace mossbank::screen
