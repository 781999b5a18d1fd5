// Characters of screen rows, for the readers' own code (not public).
//
// Screen text is UTF-8 made by the emulator; a byte that does not begin a
// valid sequence still counts as one character (U+FFFD), so that positions
// agree with char_offset_of_byte and no input can make a reader misstep.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/text.h"
#include "base/utf8.h"
#include "screen/screen_pattern.h"

namespace mossbank::screen {

// The character at `pos`, advancing `pos` past it.
inline char32_t next_char(std::string_view text, size_t& pos) {
  const unsigned char b = static_cast<unsigned char>(text[pos]);
  if (b < 0x80) {
    ++pos;
    return b;
  }
  if (utf8_sequence_length(text.substr(pos)) == 0) {
    ++pos;
    return 0xFFFD;
  }
  return next_code_point(text, pos);
}

inline size_t char_count(std::string_view text) { return char_offset_of_byte(text, text.size()); }

// The text from character `chars` on.
inline std::string_view drop_chars(std::string_view text, size_t chars) {
  return text.substr(byte_offset_of_char(text, chars));
}

// The column (in characters) of the first character that is not JavaScript
// white space; none for a blank row.
inline std::optional<size_t> first_nonblank_column(std::string_view text) {
  size_t pos = 0, column = 0;
  while (pos < text.size()) {
    if (!is_js_space(next_char(text, pos))) return column;
    ++column;
  }
  return std::nullopt;
}

inline bool is_blank(std::string_view text) { return js_trim(text).empty(); }

// trim_end_js, with the ASCII blanks that pad screen rows dropped byte by
// byte first.
inline std::string_view trim_row_end(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || (text[end - 1] >= '\t' && text[end - 1] <= '\r')))
    --end;
  return trim_end_js(text.substr(0, end));
}

// Whether every character of `text` passes `keep` (true for "").
template <typename Pred>
bool all_chars(std::string_view text, Pred keep) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (!keep(next_char(text, pos))) return false;
  }
  return true;
}

inline bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The parts joined with `sep` between them.
inline std::string join(std::span<const std::string> parts, std::string_view sep) {
  std::string out;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += sep;
    out += parts[k];
  }
  return out;
}

// The length of the CSI sequence \x1b\[[0-9;:?]*[A-Za-z] at `pos`, or 0 when
// none starts there: the sequences strip_escapes drops and the styled
// readers take apart.
inline size_t csi_length_at(std::string_view text, size_t pos) {
  if (pos + 2 >= text.size() || text[pos] != '\x1b' || text[pos + 1] != '[') return 0;
  size_t k = pos + 2;
  while (k < text.size() && ((text[k] >= '0' && text[k] <= '9') || text[k] == ';' ||
                             text[k] == ':' || text[k] == '?')) {
    ++k;
  }
  const bool letter =
      k < text.size() && ((text[k] >= 'A' && text[k] <= 'Z') || (text[k] >= 'a' && text[k] <= 'z'));
  return letter ? k + 1 - pos : 0;
}

// Walks the text's CSI sequences as csi_length_at finds them, left to
// right: on_text(piece) for the text before, between and after them (a lone
// ESC stays in it), on_csi(sequence) for each.
template <typename OnText, typename OnCsi>
void for_each_csi(std::string_view text, OnText on_text, OnCsi on_csi) {
  size_t pos = 0;
  for (size_t esc = 0; (esc = text.find('\x1b', esc)) != std::string_view::npos;) {
    const size_t n = csi_length_at(text, esc);
    if (n == 0) {
      ++esc;
      continue;
    }
    on_text(text.substr(pos, esc - pos));
    on_csi(text.substr(esc, n));
    pos = esc = esc + n;
  }
  on_text(text.substr(pos));
}

// Whether the text is empty or starts with a JavaScript white-space
// character (a pattern's "(?:{js_space}|$)" after a prefix).
inline bool at_blank_or_end(std::string_view text) {
  if (text.empty()) return true;
  size_t pos = 0;
  return is_js_space(next_char(text, pos));
}

// The length in bytes of the run of characters at the start of `text` that
// pass `keep`, and their count.
template <typename Pred>
std::pair<size_t, size_t> leading_run(std::string_view text, Pred keep) {
  size_t pos = 0, count = 0;
  while (pos < text.size()) {
    size_t next = pos;
    if (!keep(next_char(text, next))) break;
    pos = next;
    ++count;
  }
  return {pos, count};
}

}  // namespace mossbank::screen
