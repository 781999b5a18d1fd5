// The run loop and the record that outlives it: what the entry hands over
// for each run of the agent, and what it gets back.
//
// RunCommand lives for a whole `run` command. start() installs the signal
// handlers and starts the signal and keys threads, which serve every run of
// the agent (restarts included); run_loop() runs the agent once in a
// pseudo-terminal and returns when it has ended, the user's terminal restored
// and the run taken off the daemon (unless a restart follows). The
// destructor stops and joins the two threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/run.h"

namespace mossbank::run {

// The wrapper's own options, as the entry read them.
struct RunOptions {
  std::string program;                     // as typed ("claude" when none)
  std::vector<std::string> args;           // the agent's arguments, untouched
  std::optional<std::string> vocation_id;  // when --vocation was given
  bool allow_plain = false;
};

// What a signal did while no agent ran (between a restart's exit and the
// next start).
enum class RestartState { none, interrupted, terminated };

// A restart the village asked for and the run loop accepted.
struct RestartRequest {
  std::string session_id;
  std::vector<std::string> launch_words;
  bool upgrade = false;
};

struct LoopInput {
  const RunInvocation* invocation = nullptr;
  const RunOptions* options = nullptr;
  std::string program_path;  // resolved on PATH
  std::string run_id;
  std::optional<std::string> vocation_prompt;
  std::vector<std::string> agent_args;  // this run's (resume arguments after a restart)
  bool first_run = true;
  bool automatic = false;  // MOSSBANK_AUTO_RUN is "1"
};

struct LoopResult {
  uint8_t exit_code = 0;
  // The code is the wrapper's own (a failed start, a stop during the start,
  // a run ended by a failed worker), not the agent's.
  bool code_from_wrapper = false;
  std::optional<RestartRequest> restart;
  RestartState restart_state = RestartState::none;
};

class RunCommand {
 public:
  // Installs the signal handlers and starts the signal and keys threads.
  static std::unique_ptr<RunCommand> start(const RunInvocation& invocation);
  virtual ~RunCommand() = default;
  virtual LoopResult run_loop(const LoopInput& input) = 0;
};

}  // namespace mossbank::run
