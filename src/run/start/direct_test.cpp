#include "run/start/direct.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

// An agent that writes how it was started to a file.
constexpr char kAgent[] =
    "#!/bin/sh\n"
    "{\n"
    "  echo \"pid=$$\"\n"
    "  echo \"cwd=$(pwd)\"\n"
    "  for a in \"$@\"; do echo \"arg=$a\"; done\n"
    "  env | grep -E '^(MOSSBANK|ELECTRON|KEEP)' | sort\n"
    "  grep -E '^Sig(Ign|Blk)' /proc/self/status 2>/dev/null\n"
    "} > \"$RECORD\"\n";

TEST(RunAgentDirectly, BecomesTheAgentWithTheCleanedEnvironment) {
  testing::ScratchDir dir;
  const std::string agent = testing::write_file(dir / "agent", kAgent, 0755);
  const std::string record = dir / "record";
  mkdir((dir / "work").c_str(), 0755);

  RunInvocation inv;
  inv.current_dir = dir / "work";
  inv.environment = {{"PATH", "/usr/bin:/bin"},      {"RECORD", record},
                     {"MOSSBANK_RUN_AS", "x"},       {"MOSSBANK_AUTO_RUN", "1"},
                     {"MOSSBANK_AUTO_RUN_WHY", "1"}, {"MOSSBANK_RUN_ID", "r1"},
                     {"ELECTRON_RUN_AS_NODE", "1"},  {"KEEP", "a b"}};

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The state the wrapper is in: SIGPIPE ignored, a signal blocked.
    signal(SIGPIPE, SIG_IGN);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    sigprocmask(SIG_BLOCK, &block, nullptr);
    _exit(100 + run_agent_directly(agent, {"--model", "m", ""}, inv));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::string expected = "pid=" + std::to_string(child) + "\ncwd=" + (dir / "work") +
                         "\narg=--model\narg=m\narg=\n"
                         "KEEP=a b\nMOSSBANK_AUTO_RUN_WHY=1\nMOSSBANK_RUN_ID=r1\n";
  if (access("/proc/self/status", R_OK) == 0)  // where the system shows a process's signals
    expected += "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n";
  EXPECT_EQ(testing::read_text(record), expected);
}

TEST(RunAgentDirectly, AFailedStartKeepsTheCallersSignalsAndExitsOne) {
  testing::ScratchDir dir;
  const std::string not_executable = testing::write_file(dir / "agent", "#!/bin/sh\n", 0644);
  struct sigaction ignore = {}, before = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);

  RunInvocation inv;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(run_agent_directly(not_executable, {}, inv), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Couldn't start " + not_executable + ": Permission denied (os error 13)\n");

  struct sigaction after = {};
  sigaction(SIGPIPE, &before, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
}

}  // namespace
}  // namespace mossbank::run
