// The restart loop: the run loop once per start of the agent. After a
// restart the village asked for, the agent starts again in the same
// conversation with its resume arguments (after an upgrade, the run is
// first offered to the updated tool); when a restarted agent ends at once,
// or a restart is cancelled, the user is told how to take the conversation
// up by hand.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "run/run.h"
#include "run/session/run_loop.h"
#include "run/start/upgrade.h"

namespace mossbank::run {

struct RestartLoopDeps {
  std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
  std::function<void(const HandoverInput&)> hand_over = try_upgrade_handover;
  std::function<std::optional<std::string>()> own_executable;  // the platform's when unset
};

RunOutcome restart_loop(RunCommand& command, const RunInvocation& invocation,
                        const RunOptions& options, LoopInput input,
                        const RestartLoopDeps& deps = {});

}  // namespace mossbank::run
