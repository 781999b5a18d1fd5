#include "base/utf8.h"

#include <gtest/gtest.h>

namespace mossbank {
namespace {

struct LossyCase {
  std::string input;
  std::string expected;
};

TEST(Utf8Lossy, ReplacesEachMaximalInvalidSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  const LossyCase cases[] = {
      {"plain ascii", "plain ascii"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC3", r},      // truncated two-byte sequence
      {"\xE2\x82", r},  // truncated three-byte: one replacement
      {"\xE2\x82"
       "x",
       r + "x"},
      {"\xF0\x9F\x98", r},                  // truncated four-byte: one replacement
      {"\xC0\xAF", r + r},                  // overlong lead is invalid on its own
      {"\xED\xA0\x80", r + r + r},          // surrogate: lead, then two lone continuations
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\x80\x80", r + r},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_lossy(c.input), c.expected) << "input bytes: " << c.input.size();
    EXPECT_EQ(is_valid_utf8(c.input), c.input == c.expected);
  }
}

TEST(Utf16Length, CountsSurrogatePairsTwice) {
  EXPECT_EQ(utf16_length(""), 0u);
  EXPECT_EQ(utf16_length("abc"), 3u);
  EXPECT_EQ(utf16_length("\xC3\xA9\xED\x95\x9C"), 2u);  // é 한
  EXPECT_EQ(utf16_length("\xF0\x9F\x98\x80x"), 3u);     // 😀 x
}

TEST(CodePoints, EncodeAndDecodeRoundTrip) {
  for (char32_t cp :
       {U'\0', U'A', U'\u00E9', U'\u07FF', U'\u0800', U'\uFFFD', U'\U00010000', U'\U0010FFFF'}) {
    std::string s;
    append_utf8(s, cp);
    size_t pos = 0;
    EXPECT_EQ(next_code_point(s, pos), cp);
    EXPECT_EQ(pos, s.size());
    EXPECT_EQ(utf8_sequence_length(s), s.size());
  }
}

}  // namespace
}  // namespace mossbank
