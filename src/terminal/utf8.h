// UTF-8 for the terminal: the decoder the parser runs on, and the repair
// that turns raw reads of a pseudo-terminal into whole, valid characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mossbank {

// Makes a byte stream valid UTF-8 read by read: each invalid sequence (its
// maximal valid prefix, or one byte) becomes U+FFFD, and an incomplete
// sequence at the end of a read is carried to the next.
class Utf8Repair {
 public:
  // The valid text for the bytes; it stays valid until the next call.
  std::string_view feed(std::string_view bytes);
  // The incomplete sequence carried so far (at most 3 bytes).
  std::string_view carried() const { return tail_; }

 private:
  std::string out_;
  std::string tail_;
};

namespace term {

inline constexpr uint32_t kReplacement = 0xFFFD;
inline constexpr uint32_t kIncomplete = 0xFFFFFFFF;

// Decodes one code point at p (p < end) and advances p. An invalid sequence
// gives U+FFFD and skips its maximal valid prefix (at least one byte); a
// valid prefix cut off by `end` gives kIncomplete and leaves p alone.
inline uint32_t decode_utf8(const uint8_t*& p, const uint8_t* end) {
  uint8_t b0 = *p;
  if (b0 < 0x80) {
    ++p;
    return b0;
  }
  uint32_t need;
  uint32_t cp;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++p;
    return kReplacement;
  }
  const uint8_t* q = p + 1;
  for (uint32_t k = 0; k < need; ++k, ++q) {
    if (q == end) return kIncomplete;
    uint8_t b = *q;
    if (b < lo || b > hi) {
      p = q;
      return kReplacement;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = cp << 6 | (b & 0x3F);
  }
  p = q;
  return cp;
}

}  // namespace term
}  // namespace mossbank
