// Helpers shared by the terminal's unit tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "terminal/terminal.h"

namespace mossbank::term::testing {

inline Terminal fed(uint32_t cols, uint32_t rows, std::string_view bytes) {
  Terminal t = terminal_new(cols, rows);
  terminal_process(t, bytes);
  return t;
}

// The stored cell at a screen position of the active buffer.
inline Cell screen_cell(const Terminal& t, uint32_t row, uint32_t col) {
  const Buffer& b = t.active();
  return cell_at(line_or_empty(b, b.screen_index(row)), col);
}

inline const Line& screen_row(const Terminal& t, uint32_t row) {
  const Buffer& b = t.active();
  return line_or_empty(b, b.screen_index(row));
}

inline std::string fixture(const std::string& name) {
  std::ifstream in(std::string(MOSSBANK_SOURCE_DIR) + "/src/terminal/testdata/" + name,
                   std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first line of the screen text.
inline std::string first_row(const Terminal& t) {
  std::string s = screen_lines(t);
  return s.substr(0, s.find('\n'));
}

}  // namespace mossbank::term::testing
