// Display widths of code points: 0 (combining or invisible, attaches to the
// previous cell), 1, or 2 (wide, two columns). Fixed tables, deliberately
// not a library's Unicode data: a newer Unicode version moves cursors.
#pragma once

#include <cstdint>

namespace mossbank::term {

// One byte per BMP code point, built once on first use.
const uint8_t* bmp_width_table();
uint32_t supplementary_width(uint32_t cp);

inline uint32_t char_width(uint32_t cp) {
  if (cp >= 32 && cp < 127) return 1;
  if (cp <= 0xFFFF) return bmp_width_table()[cp];
  return supplementary_width(cp);
}

}  // namespace mossbank::term
