// Signals delivered to a thread: a handler marks the signal pending and
// writes one byte to a wake socket; the signal thread takes the marks.
//
// install_run_signals sets handlers for SIGWINCH, SIGINT, SIGTERM and SIGHUP
// (in this order) that write to `wake_fd` (made non-blocking). Only the
// handlers and take_pending_signal touch the marks (lock-free atomics).
#pragma once

#include "base/status.h"
#include "platform/process.h"

namespace mossbank::platform {

inline constexpr int kMaxSignal = 128;

// A socket pair, both ends close-on-exec, the write end non-blocking.
Result<PipeEnds> make_wake_pair();

void install_run_signals(int wake_fd);
// Puts the four signals back to their default action.
void uninstall_run_signals();

// Takes a pending mark (atomic swap to clear); true when it was set.
bool take_pending_signal(int sig);

}  // namespace mossbank::platform
