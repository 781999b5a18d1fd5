// The wall clock, in the unit the village's records use.
#pragma once

namespace mossbank {

// Milliseconds since the Unix epoch, to the microsecond; 0 before the epoch.
// Whole milliseconds are static_cast<uint64_t>(now_ms()).
double now_ms();

}  // namespace mossbank
