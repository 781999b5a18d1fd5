// The screen mirror's typing hold: while the village types, the mirror looks
// at the screen often, so the village sees the keys land.
#pragma once

#include "run/run_shared.h"

namespace mossbank::run {

// The typing hold: the mirror looks every 40 ms for the next 1.5 s.
void hold_state_briefly(RunShared& run);

}  // namespace mossbank::run
