// libFuzzer target over the terminal: arbitrary output bytes, fed whole and
// in pieces through the UTF-8 repair, must give the same screen.
//
// Input: byte 0 and 1 pick the size, byte 2 seeds the cut points, the rest
// is the agent's output.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "terminal/terminal.h"

namespace {

using namespace mossbank;

std::string observable(const Terminal& t) {
  TerminalCursor c = terminal_cursor(t);
  return screen_lines_styled(t) + "|" + std::to_string(c.col) + "," + std::to_string(c.row) + "|" +
         t.title;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "terminal_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t cols = 2 + data[0] % 40;
  const uint32_t rows = 1 + data[1] % 12;
  uint32_t seed = data[2] | 1u;
  std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

  Terminal whole = terminal_new(cols, rows);
  Utf8Repair repair_whole;
  terminal_capture_replies(whole);
  terminal_process(whole, repair_whole.feed(bytes));

  Terminal split = terminal_new(cols, rows);
  Utf8Repair repair_split;
  terminal_capture_replies(split);
  for (size_t at = 0; at < bytes.size();) {
    seed = seed * 1103515245u + 12345u;
    size_t n = 1 + (seed >> 16) % 17;
    terminal_process(split, repair_split.feed(bytes.substr(at, n)));
    at += n;
  }
  // The carried tail (an incomplete sequence at the end) is the same in both.
  check(repair_whole.carried() == repair_split.carried(), "carried bytes differ");
  check(observable(whole) == observable(split), "split feed changed the screen");
  check(terminal_take_replies(whole) == terminal_take_replies(split), "split feed changed the replies");
  const TerminalCursor c = terminal_cursor(whole);
  check(c.col <= whole.cols && c.row < whole.rows, "cursor outside the screen");
  (void)screen_lines(whole);
  (void)screen_lines_marked(whole);
  return 0;
}
