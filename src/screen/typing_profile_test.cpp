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
    int typing;
  };
  const Case cases[] = {
      {"claude", "\x1b", 0},       {"cursor", "\x1b", 0},
      {"auggie", "\x1b", 0},       {"cn", "\x1b", 0},
      {"kimi", "\x1b", 0},         {"cline", "\x1b", 0},
      {"copilot", "\x1b\x1b", 0},  {"opencode", "\x1b\x1b", 0},
      {"kilocode", "\x1b\x1b", 0}, {"kilo", "\x1b\x1b", 0},
      {"crush", "\x1b\x1b", 0},    {"grok", "\x03", 1},
      {"codex", "\x1b", 1},        {"goose", "\x03", 2},
      {"hermes", "\x03", 2},       {"muse", "\x1b", 2},
      {"antigravity", "\x1b", 2},  {"agent", "\x1b", 2},
      {"Claude", "\x1b", 2},       {"", "\x1b", 2},
      {"codex ", "\x1b", 2},
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
