// Hand-written screens for the readers' unit tests.
#pragma once

#include <string>
#include <vector>

namespace mossbank::screen::testing_screens {

inline std::string screen_of(const std::vector<std::string>& rows) {
  std::string text;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (k) text += '\n';
    text += rows[k];
  }
  return text;
}

// Transcript rows that no reader takes for anything.
inline std::vector<std::string> transcript(size_t count) {
  std::vector<std::string> rows;
  for (size_t k = 0; k < count; ++k) {
    rows.push_back(k % 3 == 2 ? "" : "⏺ transcript line " + std::to_string(k) + " · some words");
  }
  return rows;
}

// A full-height screen (50 rows): transcript above, `bottom` at the bottom.
inline std::string full_screen(const std::vector<std::string>& bottom, size_t height = 50) {
  std::vector<std::string> rows = transcript(height > bottom.size() ? height - bottom.size() : 0);
  rows.insert(rows.end(), bottom.begin(), bottom.end());
  return screen_of(rows);
}

// The same with a rule between the transcript and `bottom`, as a dialog
// drawn under the transcript has.
inline std::string dialog_screen(const std::vector<std::string>& bottom, size_t height = 50) {
  std::vector<std::string> rows(1);
  for (int k = 0; k < 40; ++k) rows[0] += "─";
  rows.insert(rows.end(), bottom.begin(), bottom.end());
  return full_screen(rows, height);
}

}  // namespace mossbank::screen::testing_screens
