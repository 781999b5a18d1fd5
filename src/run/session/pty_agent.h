// The agent started in a pseudo-terminal: the AgentProcess the run uses,
// and the pty's master side for the pump (reads) and the keys (writes).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"
#include "run/session/agent_process.h"

namespace mossbank::run {

struct AgentCommand {
  std::string path;               // the resolved program
  std::vector<std::string> argv;  // argv[0] first
  std::vector<std::pair<std::string, std::string>> environment;
  std::string cwd;
  uint16_t cols = 80;
  uint16_t rows = 24;
};

// The pty's master side, shared by the pump (reads), the agent's input
// (writes) and the process handle (resizes); closed with its last holder.
struct PtyMaster {
  UniqueFd fd;
};

// The agent's input: writes of whole byte strings, one writer at a time.
// The master is made non-blocking (the pump reads it only once poll says
// so), so that a write waiting for an agent that does not read can be
// called off.
class AgentInput {
 public:
  explicit AgentInput(std::shared_ptr<PtyMaster> master);
  // Writes every byte, waiting while the pty is full; false on failure,
  // once the agent's side is closed, or once `cancel_fd` (when given)
  // becomes readable.
  bool write(std::string_view bytes, int cancel_fd = -1);

 private:
  std::mutex mutex_;
  std::shared_ptr<PtyMaster> master_;
};

struct StartedAgent {
  std::shared_ptr<AgentProcess> process;
  std::shared_ptr<AgentInput> input;
  std::shared_ptr<PtyMaster> master;  // the pump reads it
};

// Opens the pty, spawns the agent on it; the operating system's failure
// otherwise.
Result<StartedAgent> start_agent(const AgentCommand& command);

// The environment as the agent gets it: sorted by name (stable; of equal
// names the later wins), with SHELL set to the login shell when missing.
std::vector<std::string> agent_environment(
    const std::vector<std::pair<std::string, std::string>>& pairs);

}  // namespace mossbank::run
