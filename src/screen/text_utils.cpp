#include "screen/text_utils.h"

#include <optional>

#include "base/utf8.h"
#include "screen/row_text.h"

namespace mossbank::screen {

namespace {

// The code point of the UTF-8 sequence that is exactly `bytes`, or none (a
// byte that is not part of valid UTF-8 is never white space).
std::optional<char32_t> decode_exact(std::string_view bytes) {
  if (bytes.empty() || utf8_sequence_length(bytes) != bytes.size()) return std::nullopt;
  size_t pos = 0;
  return next_code_point(bytes, pos);
}

}  // namespace

// Every match of \x1b\[[0-9;:?]*[A-Za-z], left to right, removed. Written out
// by hand: every reader starts here, and a scan is many times faster than
// the pattern engine's replacement.
std::string strip_escapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for_each_csi(
      text, [&](std::string_view piece) { out += piece; }, [](std::string_view) {});
  return out;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> rows;
  while (true) {
    const size_t newline = text.find('\n');
    std::string_view row = text.substr(0, newline);
    std::string& out = rows.emplace_back();
    out.reserve(row.size());
    for (size_t cr; (cr = row.find('\r')) != std::string_view::npos; row.remove_prefix(cr + 1)) {
      out += row.substr(0, cr);
    }
    out += row;
    if (newline == std::string_view::npos) return rows;
    text.remove_prefix(newline + 1);
  }
}

std::vector<std::string> screen_text_rows(std::string_view text) {
  std::vector<std::string> rows = split_lines(strip_escapes(text));
  for (std::string& row : rows) row.resize(trim_row_end(row).size());
  return rows;
}

std::string_view trim_trailing_dots(std::string_view text) {
  while (!text.empty()) {
    size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::optional<char32_t> c = decode_exact(text.substr(start));
    if (!c || !(*c == '.' || *c == 0x2026 || is_js_space(*c))) break;
    text.remove_suffix(text.size() - start);
  }
  return text;
}

}  // namespace mossbank::screen
