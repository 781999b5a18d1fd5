// UTF-8 for the terminal: the decoder the parser runs on, and the repair
// that turns raw reads of a pseudo-terminal into whole, valid characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mossbank::term {

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

inline constexpr uint32_t kReplacement = 0xFFFD;
inline constexpr uint32_t kIncomplete = 0xFFFFFFFF;

// The general case of decode_utf8.
uint32_t decode_utf8_slow(const uint8_t*& p, const uint8_t* end);

// Decodes one code point at p (p < end) and advances p. An invalid sequence
// gives U+FFFD and skips its maximal valid prefix (at least one byte); a
// valid prefix cut off by `end` gives kIncomplete and leaves p alone.
[[gnu::always_inline]] inline uint32_t decode_utf8(const uint8_t*& p, const uint8_t* end) {
  const uint8_t b0 = *p;
  if (b0 < 0x80) {
    ++p;
    return b0;
  }
  // Two- and three-byte sequences that need no overlong or surrogate
  // checks: the bulk of non-ASCII text.
  if (b0 >= 0xE1 && b0 <= 0xEC && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
    const uint32_t cp = (b0 & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    p += 3;
    return cp;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
    const uint32_t cp = (b0 & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    p += 2;
    return cp;
  }
  return decode_utf8_slow(p, end);
}

}  // namespace mossbank::term

namespace mossbank {
using term::Utf8Repair;  // public: the run reads the pseudo-terminal through it
}  // namespace mossbank
