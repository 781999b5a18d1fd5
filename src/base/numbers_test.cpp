#include "base/numbers.h"

#include <gtest/gtest.h>

namespace mossbank {
namespace {

TEST(ParseNumbers, DigitsOnlyAndAtMostMax) {
  struct Case {
    std::string_view text;
    uint64_t max;
    std::optional<uint64_t> decimal;
    std::optional<uint64_t> hex;
  };
  constexpr uint64_t kAll = UINT64_MAX;
  const Case cases[] = {
      {"0", kAll, 0, 0},
      {"007", kAll, 7, 7},
      {"42", kAll, 42, 0x42},
      {"ff", kAll, std::nullopt, 255},
      {"fF", kAll, std::nullopt, 255},
      {"18446744073709551615", kAll, UINT64_MAX, std::nullopt},
      {"18446744073709551616", kAll, std::nullopt, std::nullopt},  // one above
      {"ffffffffffffffff", kAll, std::nullopt, UINT64_MAX},
      {"65535", 65535, 65535, std::nullopt},
      {"65536", 65535, std::nullopt, std::nullopt},
      {"", kAll, std::nullopt, std::nullopt},
      {"-1", kAll, std::nullopt, std::nullopt},
      {"+1", kAll, std::nullopt, std::nullopt},
      {" 1", kAll, std::nullopt, std::nullopt},
      {"1 ", kAll, std::nullopt, std::nullopt},
      {"0x10", kAll, std::nullopt, std::nullopt},
      {"1.5", kAll, std::nullopt, std::nullopt},
      {"\xd9\xa1", kAll, std::nullopt, std::nullopt},  // ARABIC-INDIC DIGIT ONE
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_decimal(c.text, c.max), c.decimal);
    EXPECT_EQ(parse_hex(c.text, c.max), c.hex);
  }
}

}  // namespace
}  // namespace mossbank
