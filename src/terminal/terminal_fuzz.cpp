// libFuzzer target over the terminal: arbitrary output bytes, fed whole and
// in pieces through the UTF-8 repair, must give the same screen; then the
// terminal is resized and serialised, and the stream must redraw it: a
// fresh terminal fed the stream shows the same text with the cursor in the
// same place, and serialises to a stream that redraws the same screen again
// (the first pass may drop what a stream does not carry, such as the
// foreground colour of a blank cell).
//
// Input: bytes 0 and 1 pick the size, byte 2 seeds the cut points, byte 3
// picks the resize, the rest is the agent's output.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "terminal/terminal.h"

namespace {

using namespace mossbank;

std::string text_and_cursor(const Terminal& t) {
  TerminalCursor c = terminal_cursor(t);
  return screen_lines(t) + "|" + std::to_string(c.col) + "," + std::to_string(c.row);
}

// A pending wrap is redrawn by printing the last column again; after a
// blank there is nothing to print, and the cursor can only be moved onto it.
bool pending_after_blank(const Terminal& t) {
  const TerminalCursor c = terminal_cursor(t);
  if (c.col < t.cols) return false;
  const term::Buffer& b = t.active();
  const term::Cell last = term::cell_at(term::line_or_empty(b, b.screen_index(c.row)), t.cols - 1);
  return !last.has_content() && !last.is_spacer();
}

std::string observable(const Terminal& t) {
  TerminalCursor c = terminal_cursor(t);
  std::string wrapped;
  const term::Buffer& b = t.active();
  // The top row's link to a row above the screen is not part of a redraw.
  for (uint32_t r = 1; r < b.rows; ++r)
    wrapped += term::line_or_empty(b, b.screen_index(r)).wrapped ? 'w' : '.';
  return screen_lines_styled(t) + "|" + std::to_string(c.col) + "," + std::to_string(c.row) + "|" +
         t.title + "|" + wrapped;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "terminal_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t cols = 2 + data[0] % 40;
  const uint32_t rows = 1 + data[1] % 12;
  uint32_t seed = data[2] | 1u;
  const uint8_t resize = data[3];
  std::string_view bytes(reinterpret_cast<const char*>(data + 4), size - 4);

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
  check(terminal_take_replies(whole) == terminal_take_replies(split),
        "split feed changed the replies");
  const TerminalCursor c = terminal_cursor(whole);
  check(c.col <= whole.cols && c.row < whole.rows, "cursor outside the screen");
  (void)screen_lines(whole);
  (void)screen_lines_marked(whole);

  if (resize & 1) {
    terminal_resize(whole, 2 + (resize >> 1) % 50, 1 + (resize >> 4) % 14);
    const TerminalCursor r = terminal_cursor(whole);
    check(r.col <= whole.cols && r.row < whole.rows, "cursor outside the screen after a resize");
    check(whole.primary.lines.count() >= whole.rows, "fewer lines than rows after a resize");
    check(whole.primary.lines.count() <= whole.primary.lines.capacity(), "store past its capacity");
  }
  const bool screen_only = (resize & 2) != 0;
  Terminal once = terminal_new(whole.cols, whole.rows);
  terminal_process(once, serialize(whole, screen_only));
  if (!pending_after_blank(whole))
    check(text_and_cursor(once) == text_and_cursor(whole),
          "the serialised screen shows another screen");
  Terminal twice = terminal_new(whole.cols, whole.rows);
  terminal_process(twice, serialize(once, screen_only));
  check(observable(once) == observable(twice), "the serialised screen does not redraw itself");
  check(once.modes.alternate_screen == whole.modes.alternate_screen,
        "the alternate screen was lost");
  (void)serialize_presentation(whole);
  return 0;
}
