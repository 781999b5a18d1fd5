// The `run` command: `mossbank run [--vocation <id>] [--allow-plain] [--]
// <agent> [args...]` wraps an agent's terminal session for the village.
//
// run_main is the whole command: it reads the wrapper's options, resolves
// the vocation, finds the agent on PATH, runs the agent by itself where it
// must (the village off, or an automatic run without a terminal, a session
// or a village), checks the village and starts the application when it is
// down, and runs the agent in a pseudo-terminal (run_loop.h), again for each
// restart the village asks for. Its pieces, each in its own header:
//   options.h        the option scan, the agent's arguments, PATH lookup
//   environment.h    the run's variables, the agent's environment, the run id
//   village_check.h  the health check with its proof, the application start
//   codex_probe.h    Codex's --no-daemon
//   direct.h         becoming the agent (run_agent_directly)
//   resume.h         the command line of a restart
//   upgrade.h        handing a run to the updated tool
//   vocations.h      roles and their prompts
//   hand_input.h     the key filter on the user's and the panel's keys, drafts
//   requests.h       the village's talk, keys, interrupt and restart requests
//   typing.h         typing a text into the agent as a person would
//   new_conversation.h  what an Enter typed by hand tells the village
//   messages.h       the texts, and the stderr lock every thread writes under
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/status.h"

namespace mossbank::run {

struct RunInvocation {
  std::vector<std::pair<std::string, std::string>> environment;  // in the platform's order
  std::string current_dir;                                       // empty when unreadable
  std::string home_dir;
  std::string version;
  std::shared_ptr<std::function<bool()>> start_app;
  uint64_t started_at_ms = 0;
  uint32_t pid = 0;
};

// The usage asked for; a usage error (a Status: EINVAL and the text shown
// above the usage); or the run's exit code.
struct RunHelp {};
struct RunExit {
  uint8_t code = 0;
};
using RunOutcome = std::variant<RunHelp, Status, RunExit>;

RunOutcome run_main(const std::vector<std::string>& args, RunInvocation invocation);

}  // namespace mossbank::run
