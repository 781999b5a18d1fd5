#include "base/numbers.h"

#include <charconv>

namespace mossbank {

namespace {

std::optional<uint64_t> parse_in(std::string_view digits, int base, uint64_t max) {
  // from_chars takes a leading '-' for no unsigned type, but check anyway:
  // a sign is never a digit here.
  if (digits.empty() || digits[0] == '-' || digits[0] == '+') return std::nullopt;
  uint64_t v = 0;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, v, base);
  if (ec != std::errc() || ptr != end || v > max) return std::nullopt;
  return v;
}

}  // namespace

std::optional<uint64_t> parse_decimal(std::string_view digits, uint64_t max) {
  return parse_in(digits, 10, max);
}

std::optional<uint64_t> parse_hex(std::string_view digits, uint64_t max) {
  return parse_in(digits, 16, max);
}

}  // namespace mossbank
