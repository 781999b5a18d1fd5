#include "run/start/resume.h"

#include <gtest/gtest.h>

namespace mossbank::run {
namespace {

using Words = std::vector<std::string>;

TEST(ResumeArgs, KeepsConfigurationDropsConversationsAndRefusesTheRest) {
  const std::string S = "S";
  const struct {
    std::string program;
    Words args;
    Words launch;
    std::optional<Words> expected;
  } cases[] = {
      {"claude",
       {"--model", "m1", "--verbose"},
       {},
       Words{"--resume", S, "--model", "m1", "--verbose"}},
      {"claude",
       {"--resume", "A", "--model", "m1"},
       {"--model", "m2"},
       Words{"--resume", S, "--model", "m2"}},
      {"claude",
       {"--permission-mode", "plan"},
       {"--dangerously-skip-permissions"},
       Words{"--resume", S, "--dangerously-skip-permissions"}},
      {"codex",
       {"-c", "model_reasoning_effort=low", "-c", "foo=1"},
       {"-c", "model_reasoning_effort=high"},
       Words{"resume", S, "-c", "foo=1", "-c", "model_reasoning_effort=high"}},
      {"codex", {"resume", "A", "--model", "m"}, {}, Words{"resume", S, "--model", "m"}},
      {"codex", {"resume", "--last"}, {}, Words{"resume", S}},
      // With a session option seen the word after the subcommand is no id.
      {"codex", {"resume", "--last", "A"}, {}, std::nullopt},
      {"codex", {"fork", "A", "B"}, {}, std::nullopt},
      {"codex", {"exec", "A"}, {}, std::nullopt},
      {"claude", {"fix the bug"}, {}, std::nullopt},
      {"claude", {"--"}, {}, std::nullopt},
      {"claude", {"--print"}, {}, std::nullopt},
      {"claude", {"--model"}, {}, std::nullopt},
      {"claude", {}, {}, Words{"--resume", S}},
      {"grok", {}, {}, std::nullopt},
      {"antigravity", {}, {}, std::nullopt},
      {"opencode", {}, {}, std::nullopt},
      // --name=value forms.
      {"claude", {"--model=m1", "--session-id=X", "-c"}, {}, Words{"--resume", S, "--model=m1"}},
      {"claude", {"--verbose=yes"}, {}, std::nullopt},
      {"claude", {"--add-dir=a", "b"}, {}, std::nullopt},
      // A valued option keeps whatever word follows it; a valued session
      // option drops the next word only when it is not an option.
      {"claude", {"--model", "--verbose"}, {}, Words{"--resume", S, "--model", "--verbose"}},
      {"claude", {"-r", "--verbose"}, {}, Words{"--resume", S, "--verbose"}},
      {"claude", {"--resume"}, {}, Words{"--resume", S}},
      // Variadic options take words up to the next option; "" and "-" are
      // taken there, while "-" alone elsewhere is a positional word.
      {"claude",
       {"--add-dir", "a", "", "b", "--verbose"},
       {},
       Words{"--resume", S, "--add-dir", "a", "", "b", "--verbose"}},
      {"claude", {"--add-dir", "a", "-"}, {}, std::nullopt},
      {"codex",
       {"-i", "x.png", "y.png", "-m", "m"},
       {"-m", "n"},
       Words{"resume", S, "-i", "x.png", "y.png", "-m", "n"}},
      // One set: --model and -m are the same thing for codex.
      {"codex",
       {"--model", "a", "--search"},
       {"-m", "b"},
       Words{"resume", S, "--search", "-m", "b"}},
      {"/usr/local/bin/claude",
       {"--effort", "high"},
       {"--effort=low"},
       Words{"--resume", S, "--effort=low"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(resume_args(c.program, c.args, S, c.launch), c.expected)
        << c.program << " " << ::testing::PrintToString(c.args) << " launch "
        << ::testing::PrintToString(c.launch);
  }
}

TEST(OptionGroups, StartAtTheFirstWordAndAtEachOption) {
  EXPECT_EQ(option_groups(Words{"x", "y", "--a", "1", "", "-b", "-", "2"}),
            (std::vector<Words>{{"x", "y"}, {"--a", "1", ""}, {"-b"}, {"-", "2"}}));
  EXPECT_TRUE(option_groups(Words{}).empty());
}

TEST(RestartConfig, SetKeys) {
  const screen::RestartOptions& codex = *screen::agent_profile("codex")->restart;
  const screen::RestartOptions& claude = *screen::agent_profile("claude")->restart;
  const struct {
    const screen::RestartOptions* rules;
    Words group;
    std::string key;
  } cases[] = {
      {&codex, {"--model", "m"}, "-m"},
      {&codex, {"--model=m"}, "-m"},
      {&codex, {"-c", "model_reasoning_effort=low"}, "model_reasoning_effort"},
      {&codex, {"--config=model_reasoning_effort=low"}, "model_reasoning_effort"},
      {&codex, {"-c", "foo=1"}, "foo"},
      {&codex, {"-c", "plain"}, "plain"},
      {&codex, {"-c"}, ""},
      {&codex, {"--full-auto"}, "-s"},
      {&claude, {"--dangerously-skip-permissions"}, "--permission-mode"},
      {&claude, {"--verbose"}, "--verbose"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(restart_config(*c.rules, c.group), c.key) << ::testing::PrintToString(c.group);
  }
}

TEST(ExitCommand, OnlyClaudeAndCodexCanBeAskedToExit) {
  EXPECT_EQ(exit_command("claude"), "/exit");
  EXPECT_EQ(exit_command("codex"), "/quit");
  EXPECT_EQ(exit_command("grok"), std::nullopt);
  EXPECT_EQ(exit_command("Claude"), std::nullopt);
}

}  // namespace
}  // namespace mossbank::run
