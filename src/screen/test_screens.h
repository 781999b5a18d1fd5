// Hand-written screens for the readers' unit tests.
#pragma once

#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "screen/menu.h"

namespace mossbank::screen::testing {

using Rows = std::vector<std::string>;

// A rule as the agents draw one across the screen.
inline const std::string kRule = "────────────────────────────────────────";

// The options' labels, in order.
inline Rows labels(const Menu& menu) {
  Rows out;
  for (const MenuOption& o : menu.options) out.push_back(o.label);
  return out;
}

inline Rows concat(Rows a, const Rows& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

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
  std::vector<std::string> rows = {kRule};
  rows.insert(rows.end(), bottom.begin(), bottom.end());
  return full_screen(rows, height);
}

// Eight threads read every text `rounds` times at once, each starting at a
// different text; each reading must equal one thread's reading alone.
inline void expect_threads_read_as_one(const std::vector<std::string>& texts,
                                       const std::function<std::string(const std::string&)>& read,
                                       int rounds = 1) {
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<std::vector<std::string>> seen(kThreads);
  std::vector<std::thread> threads;
  const auto text_at = [&](size_t k, int t) -> const std::string& {
    return texts[(k + static_cast<size_t>(t)) % texts.size()];
  };
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < rounds; ++round)
        for (size_t k = 0; k < texts.size(); ++k) seen[t].push_back(read(text_at(k, t)));
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (size_t k = 0; k < seen[t].size(); ++k) EXPECT_EQ(seen[t][k], read(text_at(k, t)));
}

}  // namespace mossbank::screen::testing
