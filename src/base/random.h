// Random bytes.
//
// Random values come from getentropy only; a failing source is reported,
// never replaced by a fixed value (ids and tokens must not collide).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/hex.h"

namespace mossbank {

// Fills `out` from getentropy (at most 256 bytes a call); false on failure.
bool fill_random(unsigned char* out, size_t n);

// Lower-case hexadecimal of `n` random bytes; none when the source fails.
std::optional<std::string> random_hex(size_t n);

}  // namespace mossbank
