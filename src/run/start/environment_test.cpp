#include "run/start/environment.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace mossbank::run {
namespace {

TEST(SetupDaemonPid, NeedsSetupOneAndAPidAboveOne) {
  const struct {
    const char* setup;
    const char* pid;
    std::optional<int32_t> expected;
  } cases[] = {
      {"1", "42", 42},         {"1", "+42", 42},
      {"1", "1", {}},          {"1", "0", {}},
      {"1", "-5", {}},         {"1", "+", {}},
      {"1", "-", {}},          {"1", "12a", {}},
      {"1", " 42", {}},        {"1", "42 ", {}},
      {"1", "", {}},           {"1", "2147483647", 2147483647},
      {"1", "2147483648", {}}, {"1", "99999999999999999999", {}},
      {"true", "42", {}},      {"", "42", {}},
      {nullptr, "42", {}},     {"1", nullptr, {}},
  };
  for (const auto& c : cases) {
    EnvPairs env;
    if (c.setup) env.emplace_back("MOSSBANK_RUN_SETUP", c.setup);
    if (c.pid) env.emplace_back("MOSSBANK_RUN_DAEMON_PID", c.pid);
    EXPECT_EQ(setup_daemon_pid(env), c.expected)
        << (c.setup ? c.setup : "unset") << " / " << (c.pid ? c.pid : "unset");
  }
}

TEST(RunHost, EightToSixtyFourAsciiLettersDigitsAndDashes) {
  const std::string s64(64, 'a');
  const struct {
    std::string value;
    bool used;
  } cases[] = {
      {"abcdefg", false},    {"abcdefgh", true},   {s64, true},
      {s64 + "a", false},    {"abc_defgh", false}, {"abcdéfgh", false},
      {"ABC-123-xyz", true}, {"abc defgh", false}, {"", false},
  };
  for (const auto& c : cases) {
    EnvPairs env = {{"MOSSBANK_RUN_HOST", c.value}};
    EXPECT_EQ(run_host(env).has_value(), c.used) << c.value;
  }
  EXPECT_EQ(run_host({{"mossbank_run_host", "abcdefgh"}}), std::nullopt);
}

TEST(EnvVar, FirstPairOfExactlyThatName) {
  EnvPairs env = {{"A", "1"}, {"a", "2"}, {"A", "3"}};
  EXPECT_EQ(env_var(env, "A"), "1");
  EXPECT_EQ(env_var(env, "a"), "2");
  EXPECT_EQ(env_var(env, "B"), std::nullopt);
}

TEST(AgentEnvironment, RemovesTheWrappersOwnNamesInOrder) {
  const EnvPairs env = {
      {"PATH", "/bin"},
      {"MOSSBANK_VILLAGE_TERMINAL", "1"},
      {"ELECTRON_RUN_AS_NODE", "1"},
      {"MOSSBANK_RUST_HANDOVER", "9"},
      {"MOSSBANK_AUTO_RUN", "1"},
      {"MOSSBANK_AUTO_RUN_WHY", "1"},
      {"MOSSBANK_RUN_AS", "x"},
      {"MOSSBANK_RUN_UPGRADE_ID", "u"},
      {"MOSSBANK_RUN_PANEL_SHELL", "1"},
      {"MOSSBANK_RUN_HOST", "h"},
      {"MOSSBANK_RUN_SIZE", "80x24"},
      {"MOSSBANK_RUN_SETUP", "1"},
      {"MOSSBANK_RUN_DAEMON_PID", "5"},
      {"MOSSBANK_RUN_ID", "r"},
      {"mossbank_run_as", "kept"},
      {"MOSSBANK_RUST_CLI", "run"},
      {"HOME", "/h"},
  };
  const EnvPairs kept = {{"PATH", "/bin"},
                         {"MOSSBANK_AUTO_RUN_WHY", "1"},
                         {"MOSSBANK_RUN_ID", "r"},
                         {"mossbank_run_as", "kept"},
                         {"MOSSBANK_RUST_CLI", "run"},
                         {"HOME", "/h"}};
  EXPECT_EQ(run_env_without_own(env, false), kept);
  EnvPairs without_id = kept;
  without_id.erase(without_id.begin() + 2);
  EXPECT_EQ(run_env_without_own(env, true), without_id);

  EnvPairs handover = env_without_handover(env);
  for (const char* gone : {"ELECTRON_RUN_AS_NODE", "MOSSBANK_RUST_HANDOVER", "MOSSBANK_AUTO_RUN",
                           "MOSSBANK_RUN_UPGRADE_ID"}) {
    EXPECT_EQ(env_var(handover, gone), std::nullopt) << gone;
  }
  EXPECT_EQ(handover.size(), env.size() - 4);
  EXPECT_EQ(env_var(handover, "MOSSBANK_RUN_AS"), "x");
}

bool no_random(unsigned char*, size_t) { return false; }
bool all_ones(unsigned char* out, size_t n) {
  std::fill(out, out + n, 0xff);
  return true;
}

TEST(RunId, HostThenSessionShapedRunAsThenUpgradeIdThenFresh) {
  const std::string a = "0123abcd-0123-4567-89ab-0123456789ab";
  const std::string b = "fedcba98-7654-3210-fedc-ba9876543210";
  const std::string upper = "0123ABCD-0123-4567-89AB-0123456789AB";
  const std::string fresh = "ffffffff-ffff-4fff-bfff-ffffffffffff";
  const struct {
    EnvPairs env;
    std::optional<std::string> expected;
  } cases[] = {
      {{{"MOSSBANK_RUN_HOST", "panel-host-1"}, {"MOSSBANK_RUN_AS", a}}, "panel-host-1"},
      {{{"MOSSBANK_RUN_HOST", "panel-7"}, {"MOSSBANK_RUN_AS", a}}, a},
      {{{"MOSSBANK_RUN_AS", upper}, {"MOSSBANK_RUN_UPGRADE_ID", b}}, b},
      {{{"MOSSBANK_RUN_AS", "someone"}, {"MOSSBANK_RUN_UPGRADE_ID", b + "0"}}, fresh},
      {{}, fresh},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_run_id(c.env, all_ones), c.expected) << ::testing::PrintToString(c.env);
  }
  EXPECT_EQ(choose_run_id({}, no_random), std::nullopt);
  EXPECT_EQ(choose_run_id({{"MOSSBANK_RUN_AS", a}}, no_random), a);
}

TEST(PidGone, OnlyWhenNoSuchProcess) {
  EXPECT_FALSE(pid_gone(0));
  EXPECT_FALSE(pid_gone(getpid()));
  EXPECT_FALSE(pid_gone(1));  // there, even when we may not signal it
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(pid_gone(child));
}

}  // namespace
}  // namespace mossbank::run
