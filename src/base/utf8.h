// UTF-8 helpers shared by every subsystem.
//
// utf8_lossy: the text with each maximal invalid subsequence replaced by one
// U+FFFD (the WHATWG / Unicode "substitution of maximal subparts" rule).
// utf16_length: the length in UTF-16 code units, the unit in which the village
// and MCP clients count text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mossbank {

bool is_valid_utf8(std::string_view bytes);
std::string utf8_lossy(std::string_view bytes);
size_t utf16_length(std::string_view utf8);

// Appends the UTF-8 form of a code point (which must be a scalar value).
void append_utf8(std::string& out, char32_t cp);

// Decodes one code point at `pos` of valid UTF-8 and advances `pos`.
char32_t next_code_point(std::string_view utf8, size_t& pos);

// What a lead byte asks of the bytes after it: how many bytes the sequence
// takes (1 for ASCII, 0 when the byte cannot begin one) and the range of the
// second byte, which excludes overlong forms, surrogates and code points past
// U+10FFFF. Every later byte is 0x80-0xBF.
struct Utf8Lead {
  uint8_t length = 0;
  uint8_t lo = 0x80, hi = 0xBF;
};

constexpr Utf8Lead utf8_lead(uint8_t c) {
  if (c < 0x80) return {1};
  if (c >= 0xC2 && c <= 0xDF) return {2};
  if (c >= 0xE0 && c <= 0xEF)
    return {3, static_cast<uint8_t>(c == 0xE0 ? 0xA0 : 0x80),
            static_cast<uint8_t>(c == 0xED ? 0x9F : 0xBF)};
  if (c >= 0xF0 && c <= 0xF4)
    return {4, static_cast<uint8_t>(c == 0xF0 ? 0x90 : 0x80),
            static_cast<uint8_t>(c == 0xF4 ? 0x8F : 0xBF)};
  return {};
}

// The payload bits of a lead byte of a sequence of `length` (2-4) bytes.
constexpr uint32_t utf8_lead_bits(uint8_t c, uint8_t length) { return c & (0x7Fu >> length); }

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0 when
// the bytes there do not begin one. Inline: the readers' pattern searches
// check every row with it.
inline size_t utf8_sequence_length(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  if (byte(0) < 0x80) return 1;
  const Utf8Lead lead = utf8_lead(byte(0));
  if (lead.length == 0 || bytes.size() < lead.length) return 0;
  if (byte(1) < lead.lo || byte(1) > lead.hi) return 0;
  for (size_t i = 2; i < lead.length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return lead.length;
}

}  // namespace mossbank
