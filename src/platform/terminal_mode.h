// The user's terminal: raw mode and its restoration on every way out.
//
// RawMode saves stdin's attributes, applies cfmakeraw, and gives the saved
// attributes back exactly once (an atomic flag), whether from restore(), its
// destructor, or the fatal-signal handlers. Those handlers cover every
// signal whose default action ends the process (fatal_signals), apart from
// the four the run handles itself (SIGINT, SIGTERM, SIGHUP; SIGWINCH is
// harmless), SIGPIPE, which the tool ignores, and the two that cannot be
// caught. They use async-signal-safe calls only and no lock: they set the
// saved attributes back, write the fixed kFatalReset to stdout when it is
// a terminal and an agent has written to it (mark_agent_output), then
// re-raise the signal with its default action.
#pragma once

#include <string_view>
#include <vector>

namespace mossbank::platform {

// Every mode an agent may leave on that would make a shell unusable.
inline constexpr std::string_view kFatalReset =
    "\x1b[?1049l"  // alternate screen
    "\x1b[?9l\x1b[?1000l\x1b[?1001l\x1b[?1002l\x1b[?1003l\x1b[?1005l\x1b[?1006l\x1b[?1015l"
    "\x1b[?1016l"             // mouse
    "\x1b[?1004l\x1b[?2004l"  // focus, bracketed paste
    "\x1b[?1l\x1b>"           // cursor keys, keypad
    "\x1b[?2026l"             // synchronized output
    "\x1b"
    "7\x1b[r\x1b"
    "8"                        // scroll region (homes the cursor)
    "\x1b[?7h\x1b[?6l\x1b[4l"  // auto-wrap, origin, insert
    "\x1b(B\x1b[m"             // G0 ASCII, pen
    "\x1b[<u"                  // keyboard-protocol flags
    "\x1b[?25h";               // cursor shown

class RawMode {
 public:
  // Enters raw mode when stdin is a terminal whose attributes can be read;
  // otherwise holds nothing and restores nothing.
  RawMode();
  ~RawMode() { restore(); }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

  // Gives the saved attributes back, once.
  void restore();
  bool active() const { return saved_; }

 private:
  bool saved_ = false;
};

// The signals whose default action ends the process and that the handlers
// take: the crashes, SIGQUIT, SIGTRAP, SIGSYS, SIGUSR1, SIGUSR2, the timers
// and limits, SIGIO and the platform's own (SIGPWR, SIGSTKFLT, SIGEMT, the
// real-time signals).
std::vector<int> fatal_signals();

// Installs the fatal-signal handlers (once per process) on those of
// fatal_signals that are not ignored.
void install_fatal_signal_restore();

// An agent's output may have changed the user's terminal's modes from now
// on: a fatal signal writes the reset even before raw mode was entered.
void mark_agent_output();

}  // namespace mossbank::platform
