// The output pump, the run's thread "output": the only reader of the
// agent's pseudo-terminal. Each read is handed to the emulator's feeder
// (and counted) before the user's terminal (stdout) gets it, then goes into
// the activity decision. The feeder, a thread of the pump's own, feeds the
// emulator at most 1 MiB behind (under the screen lock, with the data frame
// queued before the lock is let go), so that the user's terminal gets the
// output at the pace of a plain copy; RunShared::lock_current_screen waits
// for what was handed to it. A small read (an echo) the pump feeds itself
// after stdout, while the feeder waits; a burst wakes the feeder when the
// pty has no more at once, or 128 KiB wait. Everything read has been fed
// when the pump returns.
//
// The pump ends at the pty's end of file or error. Once the agent has exited
// (PumpControl::agent_exited), a process the agent left behind may keep the
// pty open: the pump then drains for at most kDrainAfterExit and ends.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "base/unique_fd.h"
#include "run/session/pty_agent.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

inline constexpr std::chrono::milliseconds kDrainAfterExit{1000};

class PumpControl {
 public:
  PumpControl();
  // The agent was reaped: drain what is left, then end.
  void agent_exited();
  int wake_fd() const { return wake_read_.get(); }
  bool exited() const { return exited_.load(); }
  // Reads taken from the pty so far.
  void note_read() { reads_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t reads() const { return reads_.load(); }

 private:
  UniqueFd wake_read_;
  UniqueFd wake_write_;
  std::atomic<bool> exited_{false};
  std::atomic<uint64_t> reads_{0};
};

struct PumpTarget {
  int stdout_fd = 1;
  std::mutex* stdout_mutex = nullptr;
};

void run_output_pump(const std::shared_ptr<RunShared>& run,
                     const std::shared_ptr<PtyMaster>& master,
                     const std::shared_ptr<AgentInput>& input, PumpControl& control,
                     PumpTarget target);

}  // namespace mossbank::run
