#include "screen/session_ids.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

using Args = std::vector<std::string>;

const std::string kId = "0f1e2d3c-4b5a-4697-8877-665544332211";
const std::string kOther = "aaaaaaaa-bbbb-4ccc-9ddd-eeeeeeeeeeee";
const std::string kUpper = "0F1E2D3C-4B5A-4697-8877-665544332211";

TEST(SessionId, NewIdsAreVersion4) {
  std::set<std::string> seen;
  for (int k = 0; k < 200; ++k) {
    auto made = new_session_id();
    ASSERT_TRUE(made);
    const std::string& id = *made;
    ASSERT_EQ(id.size(), 36u);
    EXPECT_TRUE(is_session_id(id)) << id;
    EXPECT_EQ(id[14], '4') << id;
    EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
    EXPECT_EQ(parse_session_id(id), id);
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(SessionId, AFailingEntropySourceGivesNoId) {
  EXPECT_EQ(new_session_id([](unsigned char*, size_t) { return false; }), std::nullopt);
}

TEST(SessionId, Form) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {kId, true},
      {kUpper, false},
      {kId + "\n", false},
      {kId + "0", false},
      {kId.substr(1), false},
      {"0f1e2d3c4b5a-4697-8877-665544332211-", false},
      {"0f1e2d3c-4b5a-4697-8877-66554433221g", false},
      {"0f1e2d3c-4b5a-4697-887-7665544332211", false},
      {"", false},
      {"----", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_session_id(c.text), c.valid) << c.text;
    EXPECT_EQ(parse_session_id(c.text).has_value(), c.valid) << c.text;
  }
  EXPECT_FALSE(parse_session_id(std::nullopt));
}

TEST(SessionId, OptionValue) {
  const std::vector<std::string_view> resume = {"--resume", "-r"};
  const std::vector<std::string_view> command = {"resume"};
  struct Case {
    Args args;
    const std::vector<std::string_view>* names;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {{"--resume", kId}, &resume, kId},
      {{"-r", kId}, &resume, kId},
      {{"--resume=" + kId}, &resume, kId},
      {{"--resume=" + kId + "=x"}, &resume, kId},  // up to the next "="
      {{"--resume=" + kUpper}, &resume, std::nullopt},
      {{"--resume=x", kId}, &resume, kId},  // the argument after it
      {{"--resume=", kId}, &resume, kId},
      {{"--other=" + kId}, &resume, std::nullopt},
      {{"--resume", "x", kId}, &resume, std::nullopt},
      {{"--resume", kUpper, "-r", kId}, &resume, kId},
      {{kId}, &resume, std::nullopt},
      {{"--resume"}, &resume, std::nullopt},
      {{"resume", "--last"}, &command, std::nullopt},
      {{"resume", "--last", "x", kId}, &command, kId},
      {{"resume=" + kOther}, &command, kOther},
      {{"resume=x", kId}, &command, std::nullopt},  // no "-": the next one is not looked at
  };
  for (const Case& c : cases) {
    EXPECT_EQ(option_value(c.args, *c.names), c.expected) << c.args[0];
  }
}

TEST(SessionId, ByAgent) {
  struct Case {
    const char* agent;
    Args args;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"claude", {"--session-id", kId}, kId},
      {"claude", {"--session-id=" + kUpper}, std::nullopt},
      {"claude", {"--session-id=" + kId}, kId},
      {"claude", {"--resume", kId}, kId},
      {"claude", {"-r", kId}, kId},
      {"claude", {"--fork-session", "--resume", kId}, std::nullopt},
      {"claude", {"--session-id", kId, "--resume", kOther}, kId},
      {"claude", {"--resume", kOther, "--session-id", kId}, kId},
      {"claude", {"--fork-session", "--session-id", kId}, kId},
      {"codex", {"resume", "--last"}, std::nullopt},
      {"codex", {"resume", "--last", kId}, kId},
      {"codex", {"--resume", kId}, std::nullopt},
      {"grok", {"--resume", kId}, kId},
      {"grok", {"--session-id", kId}, std::nullopt},
      {"antigravity", {"--conversation", kId}, kId},
      {"opencode", {"--session", kId}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(session_id_of_args(c.agent, c.args), c.expected) << c.agent << " " << c.args[0];
  }
}

TEST(RunSession, GivesClaudeAndInteractiveGrokTheRunIdentifier) {
  struct Case {
    const char* program;
    Args args;
    Args expected_args;
    std::optional<std::string> expected_id;
  };
  const Case cases[] = {
      {"/usr/bin/claude", {}, {"--session-id", kId}, kId},
      {"claude", {"fix it"}, {"--session-id", kId, "fix it"}, kId},
      {"claude", {"-c"}, {"-c"}, std::nullopt},
      {"claude", {"--continue=1"}, {"--continue=1"}, std::nullopt},
      {"claude", {"--resume", kOther}, {"--resume", kOther}, kOther},
      {"claude",
       {"--fork-session", "--resume", kOther},
       {"--fork-session", "--resume", kOther},
       std::nullopt},
      {"Claude.exe", {"-p", "x"}, {"--session-id", kId, "-p", "x"}, kId},
      // Grok's search names only --resume.
      {"grok", {}, {"--session-id", kId}, std::nullopt},
      {"grok", {"-p", "x"}, {"-p", "x"}, std::nullopt},
      {"grok", {"-s", kOther}, {"-s", kOther}, std::nullopt},
      {"grok", {"--resume", kOther}, {"--resume", kOther}, kOther},
      {"codex", {}, {}, std::nullopt},
      {"codex", {"resume", kOther}, {"resume", kOther}, kOther},
      {"copilot", {}, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    RunSession s = run_session(c.program, c.args, kId);
    EXPECT_EQ(s.args, c.expected_args) << c.program;
    EXPECT_EQ(s.session_id, c.expected_id) << c.program;
  }
  EXPECT_FALSE(has_session_option("claude", Args{"-s"}));
  EXPECT_TRUE(has_session_option("grok", Args{"-s"}));
  EXPECT_FALSE(has_session_option("grok", Args{"-s=x"}));
  EXPECT_TRUE(has_session_option("codex", Args{"-r=1"}));
}

}  // namespace
}  // namespace mossbank::screen
