#include "screen/typing_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/agent_profiles.h"

namespace mossbank::screen {
namespace {

std::string keys_of(const TypingProfile& p) {
  std::string out;
  for (InterruptKey k : p.interrupt_keys) out += interrupt_key_bytes(k);
  return out;
}

TEST(TypingProfile, IsTheRowsByExactName) {
  for (const AgentProfile& row : agent_profiles()) {
    const TypingProfile p = typing_profile(row.name);
    EXPECT_EQ(keys_of(p), keys_of(row.typing)) << row.name;
    EXPECT_EQ(p.typing, row.typing.typing) << row.name;
    EXPECT_EQ(p.is_codex, row.typing.is_codex) << row.name;
  }
  // A name without a row: Esc, one line at a time.
  for (std::string name : {"Claude", "", "codex ", "agent"}) {
    const TypingProfile p = typing_profile(name);
    EXPECT_EQ(keys_of(p), "\x1b") << name;
    EXPECT_EQ(p.typing, Typing::kOneLine) << name;
    EXPECT_FALSE(p.is_codex) << name;
  }
}

// Agents that type or interrupt otherwise than the default, as each does.
TEST(TypingProfile, AgentsOwnKeys) {
  struct Case {
    std::string name;
    std::string keys;
    Typing typing;
  };
  const Case cases[] = {
      {"claude", "\x1b", Typing::kLines},      {"opencode", "\x1b\x1b", Typing::kLines},
      {"copilot", "\x1b\x1b", Typing::kLines}, {"grok", "\x03", Typing::kLinesToo},
      {"codex", "\x1b", Typing::kLinesToo},    {"hermes", "\x03", Typing::kOneLine},
  };
  for (const Case& c : cases) {
    const TypingProfile p = typing_profile(c.name);
    EXPECT_EQ(keys_of(p), c.keys) << c.name;
    EXPECT_EQ(p.typing, c.typing) << c.name;
  }
  EXPECT_TRUE(typing_profile("codex").is_codex);
}

}  // namespace
}  // namespace mossbank::screen
