#include "base/utf8.h"

namespace mossbank {

namespace {

// The number of bytes from the start of `s` that follow the lead byte's
// rule, at most the sequence's length.
size_t valid_prefix(std::string_view s, const Utf8Lead& lead) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  size_t i = 1;
  if (i < s.size() && b(i) >= lead.lo && b(i) <= lead.hi) {
    ++i;
    while (i < lead.length && i < s.size() && b(i) >= 0x80 && b(i) <= 0xBF) ++i;
  }
  return i;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t n = utf8_sequence_length(s.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Length of the longest prefix of `s` that could begin a valid sequence (at
// least 1): the bytes that one U+FFFD replaces.
static size_t maximal_invalid_subpart(std::string_view s) {
  Utf8Lead lead = utf8_lead(static_cast<unsigned char>(s[0]));
  return lead.length == 0 ? 1 : valid_prefix(s, lead);
}

std::string utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    while (i < s.size()) {
      if (static_cast<unsigned char>(s[i]) < 0x80) {
        ++i;
        continue;
      }
      size_t n = utf8_sequence_length(s.substr(i));
      if (n == 0) break;
      i += n;
    }
    out.append(s.substr(start, i - start));
    if (i < s.size()) {
      out.append("\xEF\xBF\xBD");
      i += maximal_invalid_subpart(s.substr(i));
    }
  }
  return out;
}

size_t utf16_length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;  // a lead byte starts a code point
    if (c >= 0xF0) ++n;           // four-byte sequences need a surrogate pair
  }
  return n;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char32_t next_code_point(std::string_view s, size_t& pos) {
  auto b = [&](size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(s[i])); };
  char32_t c = b(pos);
  if (c < 0x80) {
    pos += 1;
    return c;
  }
  if (c < 0xE0) {
    char32_t r = ((c & 0x1F) << 6) | (b(pos + 1) & 0x3F);
    pos += 2;
    return r;
  }
  if (c < 0xF0) {
    char32_t r = ((c & 0x0F) << 12) | ((b(pos + 1) & 0x3F) << 6) | (b(pos + 2) & 0x3F);
    pos += 3;
    return r;
  }
  char32_t r = ((c & 0x07) << 18) | ((b(pos + 1) & 0x3F) << 12) | ((b(pos + 2) & 0x3F) << 6) |
               (b(pos + 3) & 0x3F);
  pos += 4;
  return r;
}

}  // namespace mossbank
