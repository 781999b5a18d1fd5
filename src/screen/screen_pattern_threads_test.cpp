// The same patterns from eight threads at once, starting before any of them
// is compiled: run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "screen/agents.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {
namespace {

// Used nowhere else, so the first use races in this test.
constinit const ScreenPattern option_row{
    "^(?:({js_nonspace}){js_space}+)?([0-9]{1,2})[.)]{js_space}+({js_nonspace}.*)$"};
constinit const ScreenPattern busy{
    "(?i)(esc|ctrl\\+c) to (interrupt|cancel|stop)|\\b[1-9]\\d* task\\(s\\) · /tasks\\b"};
constinit const ScreenPattern ascii_word{"(?i-u)\\besc\\b"};
constinit const ScreenPattern rule{"[─━═▔]{6,}"};

std::string screen(int variant) {
  std::string text;
  for (int row = 0; row < 50; ++row) {
    if (row == 10) {
      text += "❯ " + std::to_string(1 + variant % 3) + ". Yes, and don't ask again";
    } else if (row == 20) {
      text += "\x1b[0;2m  esc to interrupt\x1b[0m";
    } else if (row == 30) {
      text += std::string(40, ' ') + "──────────────";
    } else {
      text += "row " + std::to_string(row) + " ESC  lorem ipsum dolor sit amet " +
              std::string(static_cast<size_t>(variant % 7), 'x');
    }
    if (row != 49) text += '\n';
  }
  return text;
}

TEST(ScreenPatternThreads, EightThreadsShareThePatterns) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 60;
  std::latch start(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        const std::string text = screen(t + round);
        std::vector<std::string> rows = screen_text_rows(text);
        int options = 0;
        for (const std::string& row : rows) {
          std::optional<Match> m = option_row.find(row);
          if (!m) continue;
          ++options;
          if (m->group(1) != "❯" || m->group(2) != std::to_string(1 + (t + round) % 3)) {
            ++failures;
          }
        }
        if (options != 1) ++failures;
        if (!busy.is_match(text)) ++failures;
        if (ascii_word.find_all(text).size() != 48) ++failures;
        if (rule.find_all(text).size() != 1) ++failures;
        if (strip_escapes(text).find('\x1b') != std::string::npos) ++failures;
        if (!is_interactive_session(std::vector<std::string>{"claude", "--model", "x"})) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace mossbank::screen
