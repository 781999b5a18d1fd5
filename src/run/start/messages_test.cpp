#include "run/start/messages.h"

#include <gtest/gtest.h>

namespace mossbank::run {
namespace {

TEST(ResumeHint, NamesTheProgramAndTheConversation) {
  const std::string S = "0123abcd-0123-4567-89ab-0123456789ab";
  EXPECT_EQ(resume_hint(kRestartCancelled, "/usr/local/bin/claude", S),
            "\nMossbank: the restart was cancelled. `claude --resume " + S +
                "` takes the conversation up again.");
  EXPECT_EQ(resume_hint(kAgentDidntStartAgain, "C:\\bin\\codex", S),
            "\nMossbank: the agent didn\u2019t start again. `codex resume " + S +
                "` takes the conversation up again.");
  EXPECT_EQ(resume_hint(kRestartCancelled, "grok", S), std::nullopt);
}

TEST(EprintRaw, FramedForARawTerminal) {
  ::testing::internal::CaptureStderr();
  eprint_raw(kStartingAgain);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\r\nMossbank: starting the agent again in the same conversation\u2026\r\n");
}

TEST(NoteRunsByItself, OnlyWhenAskedWhy) {
  ::testing::internal::CaptureStderr();
  note_runs_by_itself({{"MOSSBANK_AUTO_RUN_WHY", "true"}}, "no-terminal");
  note_runs_by_itself({}, "no-terminal");
  note_runs_by_itself({{"MOSSBANK_AUTO_RUN_WHY", "1"}}, "no-start: No such file");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "mossbank: the agent runs by itself here (no-start: No such file)\n");
}

}  // namespace
}  // namespace mossbank::run
