// What the user's terminal needs when the agent is gone: every mode the
// agent left on that would leave a shell unusable, turned off in one write.
#pragma once

#include <string>

#include "terminal/terminal.h"

namespace mossbank::run {

// The reset for the modes the emulator says are on: mouse tracking, focus
// reports and bracketed paste first (in that order), then the alternate
// screen, cursor keys and keypad, synchronized output, the scroll region
// (inside save/restore cursor, since it homes the cursor), auto-wrap,
// origin, insert, G0, the pen and the hidden cursor; the keyboard-protocol
// flags are always popped, since the emulator keeps no record of them.
std::string end_reset(const Terminal& t);

}  // namespace mossbank::run
