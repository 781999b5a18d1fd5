// The agent's process in its pseudo-terminal, as the rest of the run sees it.
//
// Signals go only to a child not yet reaped, so a recycled pid is never
// signalled; resize and wait take different locks, so the run loop can sit
// in wait() for the agent's whole life while other threads resize.
#pragma once

#include <cstdint>
#include <optional>

#include "base/status.h"

namespace mossbank::run {

class AgentProcess {
 public:
  virtual ~AgentProcess() = default;
  // The pid while the child runs and reported one.
  virtual std::optional<uint32_t> process_id() const = 0;
  virtual void resize(uint16_t cols, uint16_t rows) = 0;
  // SIGKILL when hard, else SIGHUP. Failures are the system's; callers ignore them.
  virtual Status kill(bool hard) = 0;
  virtual Status interrupt() = 0;  // SIGINT
  // Blocks until the child ends, then counts it reaped. Its exit code; for
  // a child killed by a signal this handle sent (a stop, a restart, a
  // forwarded termination) 0, for one killed by any other signal 128 + the
  // signal (a crash is not a success); 1 when waiting failed.
  virtual int32_t wait() = 0;
  // SIGKILL (force) or SIGTERM to the child's process group.
  virtual Status kill_group(bool force) = 0;
};

}  // namespace mossbank::run
