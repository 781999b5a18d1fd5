// White space and case as the village's peers see them.
//
// Two white-space classes, because two peers trim text differently:
//   is_js_space       JavaScript's \s and String.prototype.trim: U+0009..U+000D,
//                     U+0020, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029,
//                     U+202F, U+205F, U+3000, U+FEFF
//   is_unicode_space  Unicode's White_Space as Rust's str::trim uses it: the
//                     same but with U+0085 and without U+FEFF
// The trims take UTF-8; a byte that does not begin a valid character is
// never white space.
#pragma once

#include <string>
#include <string_view>

namespace mossbank {

bool is_js_space_beyond_ascii(char32_t cp);
// Inline for ASCII: the readers ask it of every character of a row.
inline bool is_js_space(char32_t cp) {
  if (cp < 0x80) return cp == 0x20 || (cp >= 0x09 && cp <= 0x0D);
  return is_js_space_beyond_ascii(cp);
}
std::string_view js_trim(std::string_view text);
std::string_view trim_end_js(std::string_view text);

bool is_unicode_space(char32_t cp);
std::string_view trim_unicode_space(std::string_view text);

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
std::string ascii_lower(std::string_view text);

// Whether `word` is one of `names` (any range of texts).
template <typename Names>
bool listed(const Names& names, std::string_view word) {
  for (std::string_view name : names)
    if (name == word) return true;
  return false;
}

}  // namespace mossbank
