// Control sequences: cursor movement, erasing and editing, scrolling, SGR,
// tab stops, margins, modes and the device replies.
#pragma once

#include <cstdint>

#include "terminal/terminal.h"

namespace mossbank::term {

void csi_dispatch(Terminal& t, uint32_t key, const Parser& p);

}  // namespace mossbank::term
