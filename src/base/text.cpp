#include "base/text.h"

#include "base/utf8.h"

namespace mossbank {

namespace {

// The character at `pos` when valid UTF-8 begins there; its length, or 0.
size_t code_point_at(std::string_view text, size_t pos, char32_t& cp) {
  size_t n = utf8_sequence_length(text.substr(pos));
  if (n == 0) return 0;
  size_t p = pos;
  cp = next_code_point(text, p);
  return n;
}

template <typename IsSpace>
std::string_view trim_start(std::string_view text, IsSpace is_space) {
  size_t start = 0;
  while (start < text.size()) {
    char32_t cp = 0;
    size_t n = code_point_at(text, start, cp);
    if (n == 0 || !is_space(cp)) break;
    start += n;
  }
  return text.substr(start);
}

template <typename IsSpace>
std::string_view trim_end(std::string_view text, IsSpace is_space) {
  size_t end = text.size();
  while (end > 0) {
    // Back up over continuation bytes to the start of the last character.
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
      --start;
    char32_t cp = 0;
    size_t n = code_point_at(text.substr(0, end), start, cp);
    if (n != end - start || !is_space(cp)) break;
    end = start;
  }
  return text.substr(0, end);
}

}  // namespace

bool is_js_space_beyond_ascii(char32_t cp) {
  switch (cp) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
    case 0xFEFF:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

std::string_view js_trim(std::string_view text) {
  return trim_end(trim_start(text, is_js_space), is_js_space);
}

std::string_view trim_end_js(std::string_view text) { return trim_end(text, is_js_space); }

bool is_unicode_space(char32_t cp) { return cp != 0xFEFF && (cp == 0x85 || is_js_space(cp)); }

std::string_view trim_unicode_space(std::string_view text) {
  return trim_end(trim_start(text, is_unicode_space), is_unicode_space);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

}  // namespace mossbank
