// Lower-case hexadecimal, the form every id, token and digest takes.
#pragma once

#include <cstddef>
#include <string>

namespace mossbank {

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

inline std::string hex_lower(const unsigned char* bytes, size_t n) {
  std::string out(n * 2, '0');
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kLowerHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kLowerHexDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace mossbank
