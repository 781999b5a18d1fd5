#include "run/start/codex_probe.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

using Args = std::vector<std::string>;

TEST(CodexProbeWanted, FlagsRemoteAndCommands) {
  const struct {
    Args args;
    bool wanted;
  } cases[] = {
      {{}, true},
      {{"--model", "o3", "fix it"}, true},
      {{"--no-daemon"}, false},
      {{"--remote"}, false},
      {{"--remote", "host"}, false},  // a flag here: "--remote" is no value option
      {{"--remote=host"}, false},
      {{"-m", "--no-daemon"}, false},  // no value for -m: both are flags
      {{"-c", "x=1", "--", "--no-daemon"}, true},
      {{"exec", "task"}, false},
      {{"e"}, false},
      {{"login"}, false},
      {{"review"}, false},
      {{"--model", "exec"}, true},  // the model's name is no command
      {{"resume", "--last"}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(codex_probe_wanted(*screen::agent_profile("codex"), c.args), c.wanted)
        << ::testing::PrintToString(c.args);
  }
}

TEST(HelpListsNoDaemon, WholeWordsOnly) {
  EXPECT_TRUE(help_lists_no_daemon("Options:\n      --no-daemon  Run in this process\n"));
  EXPECT_TRUE(help_lists_no_daemon("--no-daemon"));
  EXPECT_TRUE(help_lists_no_daemon("a\u3000--no-daemon\r\n"));
  EXPECT_TRUE(help_lists_no_daemon("\xff --no-daemon \xfe"));
  EXPECT_FALSE(help_lists_no_daemon("      --no-daemon-mode\n"));
  EXPECT_FALSE(help_lists_no_daemon("[--no-daemon]\n"));
  EXPECT_FALSE(help_lists_no_daemon(""));
}

class ProbeHelp : public ::testing::Test {
 protected:
  ProbeCommand command(const std::string& script, std::chrono::milliseconds wait) {
    ProbeCommand c;
    c.program_path = testing::write_file(dir_ / "codex", script, 0755);
    c.envp = {"PATH=/usr/bin:/bin", "PROBE_MARK=yes"};
    c.cwd = dir_.path();
    c.wait = wait;
    return c;
  }
  testing::ScratchDir dir_;
};

TEST_F(ProbeHelp, ReadsStdoutInItsEnvironmentAndFolder) {
  ProbeCommand c = command(
      "#!/bin/sh\n"
      "echo \"$1 $PROBE_MARK $(pwd)\"\n"
      "echo 'noise' >&2\n"
      "echo '  --no-daemon   keep the session here'\n",
      std::chrono::seconds(30));
  std::optional<std::string> help = probe_help(c);
  ASSERT_TRUE(help);
  EXPECT_EQ(*help, "--help yes " + dir_.path() + "\n  --no-daemon   keep the session here\n");
  EXPECT_EQ(codex_args_after_probe(c, {"--model", "m"}), (Args{"--no-daemon", "--model", "m"}));
}

TEST_F(ProbeHelp, NoFlagInTheHelpChangesNothing) {
  ProbeCommand c = command("#!/bin/sh\necho 'Usage: codex [OPTIONS]'\n", std::chrono::seconds(30));
  EXPECT_EQ(codex_args_after_probe(c, {"x"}), Args{"x"});
}

TEST_F(ProbeHelp, AProgramThatCannotStartChangesNothing) {
  ProbeCommand c = command("", std::chrono::seconds(30));
  c.program_path = dir_ / "absent";
  EXPECT_EQ(probe_help(c), std::nullopt);
  EXPECT_EQ(codex_args_after_probe(c, {"x"}), Args{"x"});
}

TEST_F(ProbeHelp, ASlowProgramIsKilledAndReaped) {
  // It prints the flag but keeps stdout open past the wait.
  const std::string pid_file = dir_ / "pid";
  ProbeCommand c =
      command("#!/bin/sh\necho $$ > '" + pid_file + "'\necho --no-daemon\nexec sleep 60\n",
              std::chrono::milliseconds(300));
  EXPECT_EQ(probe_help(c), std::nullopt);
  const int pid = std::atoi(testing::read_text(pid_file).c_str());
  ASSERT_GT(pid, 0);
  EXPECT_NE(kill(pid, 0), 0);  // gone, not a zombie left to us
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(ProbeHelp, SignalsAtTheirDefaultsAndNoneBlocked) {
  if (access("/proc/self/status", R_OK) != 0) GTEST_SKIP() << "no /proc to read signals from";
  // Whatever this process ignores or blocks, the probe does not inherit.
  struct sigaction ignore = {}, old_action = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old_action);
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old_mask);
  ProbeCommand c = command("#!/bin/sh\nexec grep -E '^Sig(Ign|Blk)' /proc/self/status\n",
                           std::chrono::seconds(30));
  std::optional<std::string> status = probe_help(c);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGPIPE, &old_action, nullptr);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

}  // namespace
}  // namespace mossbank::run
