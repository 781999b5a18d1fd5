#include "terminal/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"

namespace mossbank::term {
namespace {

// The terminal's decoder and repair have fast paths of their own; they must
// accept and replace exactly what base's rules do. Every lead and second
// byte, with later bytes at the edges of the continuation range.
TEST(Utf8, DecoderAndRepairAgreeWithBaseRules) {
  const uint8_t later[] = {0x41, 0x80, 0x9F, 0xA0, 0xBF, 0xC0};
  for (uint32_t b0 = 0; b0 < 256; ++b0) {
    for (uint32_t b1 = 0; b1 < 256; ++b1) {
      for (uint8_t b2 : later) {
        for (uint8_t b3 : later) {
          const std::string bytes{static_cast<char>(b0), static_cast<char>(b1),
                                  static_cast<char>(b2), static_cast<char>(b3), 'x'};
          const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
          const uint8_t* q = p;
          const uint32_t cp = decode_utf8(q, p + bytes.size());
          const size_t valid = utf8_sequence_length(bytes);
          if (valid == 0) {
            ASSERT_EQ(cp, kReplacement) << b0 << " " << b1;
          } else {
            ASSERT_EQ(static_cast<size_t>(q - p), valid) << b0 << " " << b1;
            ASSERT_TRUE(cp != kReplacement || bytes.compare(0, 3, "\xEF\xBF\xBD") == 0)
                << b0 << " " << b1;
          }
          Utf8Repair repair;
          ASSERT_EQ(repair.feed(bytes), utf8_lossy(bytes)) << b0 << " " << b1 << " " << int{b2};
        }
      }
    }
  }
}

}  // namespace
}  // namespace mossbank::term
