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

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0 when
// the bytes there do not begin one.
size_t utf8_sequence_length(std::string_view bytes);

}  // namespace mossbank
