// Unsigned numbers written in digits, read with std::from_chars: digits only
// (no sign, prefix or space). None when the text is empty, holds anything
// else, or spells a number above `max`.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace mossbank {

std::optional<uint64_t> parse_decimal(std::string_view digits,
                                      uint64_t max = std::numeric_limits<uint64_t>::max());
// Both cases of a..f.
std::optional<uint64_t> parse_hex(std::string_view digits,
                                  uint64_t max = std::numeric_limits<uint64_t>::max());

}  // namespace mossbank
