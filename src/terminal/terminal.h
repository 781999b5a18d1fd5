// The terminal emulator that keeps a wrapped agent's screen.
//
//   Terminal t = terminal_new(cols, rows);  // primary buffer (kScrollBackLimit
//                                           // lines of scroll-back) and
//                                           // alternate buffer;
//                                           // sides clamped as for a resize
//   terminal_process(t, text);    // feed whole UTF-8 characters; an escape
//                                 // sequence may be split across calls
//                                 // (Utf8Repair turns raw reads into such text)
//   terminal_capture_replies(t);  // answers to the agent's queries (DA, DSR,
//   terminal_take_replies(t);     // CPR, DECRQM, DECRQSS) collect only while on
//   terminal_resize(t, cols, rows);  // cols kMinTerminalCols..kMaxTerminalSide,
//                                    // rows kMinTerminalRows..kMaxTerminalSide;
//                                    // reflows the primary buffer's
//                                    // soft-wrapped lines
//   screen_lines(t)           // visible rows as plain text, joined by "\n"
//   screen_lines_styled(t)    // ... with colours, dim and inverse as SGR
//   screen_lines_marked(t)    // ... with only inverse and faint runs marked
//   serialize(t, screen_only) + serialize_presentation(t)
//                             // an escape-sequence stream that redraws the
//                             // terminal on a fresh one of the same size
//                             // (screen_only: the visible rows, else the
//                             // scroll-back too); the presentation is the
//                             // hidden cursor, mouse encoding, cursor style
//                             // and title
//   terminal_cursor(t), t.modes, t.title, t.cols, t.rows  // read freely
//
// Not thread-safe and holds no global mutable state: callers keep one lock
// around every call. Nothing here fails; malformed input is ignored.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "terminal/buffer.h"
#include "terminal/cell.h"
#include "terminal/parser.h"
#include "terminal/utf8.h"

namespace mossbank::term {

// The mode flags, in the order the state record keeps them.
// The mouse events the agent asked for: X10 (?9), normal (?1000),
// button-event (?1002), any-event (?1003).
enum class MouseTracking : uint8_t { off, x10, normal, button_event, any_event };
// How it asked them encoded: SGR (?1006), SGR pixels (?1016).
enum class MouseEncoding : uint8_t { normal, sgr, sgr_pixels };

struct TerminalModes {
  bool alternate_screen = false;
  bool cursor_keys_application = false;  // DECCKM, ?1
  bool keypad_application = false;       // DECKPAM, ?66
  bool bracketed_paste = false;          // ?2004
  bool origin = false;                   // DECOM, ?6
  bool reverse_wrap = false;             // ?45
  bool focus_events = false;             // ?1004
  bool synchronized_output = false;      // ?2026
  bool auto_wrap = true;                 // DECAWM, ?7
  bool insert = false;                   // IRM, 4
  bool newline = false;                  // LNM, 20
  bool cursor_hidden = false;            // inverse of DECTCEM, ?25
  bool cursor_blink = false;             // ?12
  MouseEncoding mouse_encoding = MouseEncoding::normal;
  MouseTracking mouse_tracking = MouseTracking::off;
};

struct Presentation {
  std::string safe_title;                       // the title without C0, DEL and C1 code points
  std::optional<uint32_t> mouse_encoding_mode;  // 1006 or 1016, as last set
  uint32_t cursor_style = 0;                    // DECSCUSR
  bool cursor_hidden = false;
};

struct LinkKeyHash {
  uint64_t seed = 0;
  size_t operator()(std::string_view key) const;
};

struct Terminal {
  Buffer primary;
  Buffer alternate;
  std::string title;
  std::string icon_name;
  Presentation presentation;
  Parser parser;
  std::optional<std::string> replies;  // absent = replies off
  std::unordered_map<std::string, uint32_t, LinkKeyHash> hyperlinks;
  std::deque<std::string> hyperlink_order;  // keys, oldest first (the map is bounded)
  uint32_t cols = 0;
  uint32_t rows = 0;
  Pen pen;
  Pen erase_pen;
  std::array<int8_t, 4> charsets{-1, -1, -1, -1};  // G0-G3; -1 = ASCII
  uint8_t shift = 0;                               // which of G0-G3 is in GL
  int8_t active_charset = -1;
  uint32_t link_counter = 0;
  uint32_t print_state = 0;  // bits 1-2 last printed width, bit 0 combining,
                             // kPrintedLastColumn
  TerminalModes modes;

  Buffer& active() { return modes.alternate_screen ? alternate : primary; }
  const Buffer& active() const { return modes.alternate_screen ? alternate : primary; }
};

// The sides a terminal may have; larger or smaller ones are clamped.
inline constexpr uint32_t kMinTerminalCols = 2;
inline constexpr uint32_t kMinTerminalRows = 1;
inline constexpr uint32_t kMaxTerminalSide = 4096;

// Print-state bit: with auto-wrap off the cursor stays on the last column it
// has just printed; what follows a print (a combining mark, REP) still
// belongs to that character, as if the cursor stood past it.
inline constexpr uint32_t kPrintedLastColumn = 1u << 3;

Terminal terminal_new(uint32_t cols, uint32_t rows);
void terminal_process(Terminal& t, std::string_view text);
void terminal_resize(Terminal& t, uint32_t cols, uint32_t rows);

// Switches reply capture on (with an empty buffer).
void terminal_capture_replies(Terminal& t);
// The replies collected since capture was switched on; capture goes off.
std::string terminal_take_replies(Terminal& t);

struct TerminalCursor {
  uint32_t col = 0;  // cols means a pending wrap
  uint32_t row = 0;  // screen row
};
TerminalCursor terminal_cursor(const Terminal& t);

std::string screen_lines(const Terminal& t);
std::string screen_lines_styled(const Terminal& t);
std::string screen_lines_marked(const Terminal& t);

std::string serialize(const Terminal& t, bool screen_only);
std::string serialize_presentation(const Terminal& t);

}  // namespace mossbank::term

// The public names, for the modules that use the terminal.
namespace mossbank {
using term::kMaxTerminalSide;
using term::Terminal;
using term::TerminalCursor;
using term::TerminalModes;

using term::screen_lines;
using term::screen_lines_marked;
using term::screen_lines_styled;
using term::serialize;
using term::serialize_presentation;
using term::terminal_capture_replies;
using term::terminal_cursor;
using term::terminal_new;
using term::terminal_process;
using term::terminal_resize;
using term::terminal_take_replies;
}  // namespace mossbank
