#include "run/start/restart_loop.h"

#include "platform/platform.h"
#include "run/start/messages.h"
#include "run/start/resume.h"

namespace mossbank::run {

namespace {

// A restarted agent that ends sooner than this (with a failure) did not
// really start again.
constexpr std::chrono::milliseconds kQuickEnd{10000};

void write_resume_hint(std::string_view what, const RunOptions& options,
                       std::string_view session_id) {
  if (std::optional<std::string> hint = resume_hint(what, options.program, session_id)) {
    eprint_raw(*hint);
  }
}

}  // namespace

RunOutcome restart_loop(RunCommand& command, const RunInvocation& invocation,
                        const RunOptions& options, LoopInput input, const RestartLoopDeps& deps) {
  std::optional<std::string> restarted_session;  // the conversation a restart took up
  while (true) {
    const auto started = deps.now();
    const LoopResult result = command.run_loop(input);
    const auto lasted = deps.now() - started;

    if (!result.restart) {
      if (!input.first_run && restarted_session) {
        std::optional<std::string_view> what;
        if (result.restart_state == RestartState::interrupted) {
          what = kRestartCancelled;
        } else if (result.restart_state == RestartState::terminated) {
          what = kAgentDidntStartAgain;
        } else if (lasted < kQuickEnd && (result.exit_code != 0 || result.code_from_wrapper)) {
          what = kAgentDidntStartAgain;
        }
        if (what) write_resume_hint(*what, options, *restarted_session);
      }
      return RunExit{result.exit_code};
    }

    const RestartRequest& restart = *result.restart;
    std::optional<std::vector<std::string>> resumed =
        resume_args(options.program, input.agent_args, restart.session_id, restart.launch_words);
    if (!result.code_from_wrapper && resumed && result.restart_state == RestartState::none) {
      eprint_raw(kStartingAgain);
      if (restart.upgrade) {
        HandoverInput handover;
        handover.home_dir = invocation.home_dir;
        handover.own_executable =
            deps.own_executable ? deps.own_executable() : platform::own_executable_path();
        handover.options = options;
        handover.resume_args = *resumed;
        handover.environment = invocation.environment;
        handover.run_id = input.run_id;
        handover.pid = invocation.pid;
        deps.hand_over(handover);
      }
      input.agent_args = std::move(*resumed);
      input.first_run = false;
      restarted_session = restart.session_id;
      continue;
    }
    if (result.restart_state == RestartState::interrupted) {
      write_resume_hint(kRestartCancelled, options, restart.session_id);
    }
    return RunExit{result.exit_code};
  }
}

}  // namespace mossbank::run
