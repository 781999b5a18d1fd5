#include "run/session/terminal_reset.h"

#include "terminal/sequences.h"

namespace mossbank::run {

std::string end_reset(const Terminal& t) {
  const TerminalModes& m = t.modes;
  std::string out;
  using namespace term::dec_mode;
  auto off = [&](int mode) { out += "\x1b[?" + std::to_string(mode) + "l"; };
  if (m.mouse_tracking != term::MouseTracking::off)
    for (int mode : {MOUSE_X10, MOUSE_NORMAL, MOUSE_HIGHLIGHT, MOUSE_BUTTON_EVENT, MOUSE_ANY_EVENT,
                     MOUSE_UTF8, MOUSE_SGR, MOUSE_URXVT, MOUSE_SGR_PIXELS})
      off(mode);
  if (m.focus_events) off(FOCUS_EVENTS);
  if (m.bracketed_paste) off(BRACKETED_PASTE);
  if (m.alternate_screen) off(ALT_SCREEN_SAVE_CURSOR);
  if (m.cursor_keys_application) off(DECCKM);
  if (m.keypad_application) out += "\x1b>";
  if (m.synchronized_output) off(SYNCHRONIZED_OUTPUT);
  const term::Buffer& b = t.active();
  if (b.region_top != 0 || b.region_bottom + 1 != b.rows)
    out +=
        "\x1b"
        "7\x1b[r\x1b"
        "8";
  if (!m.auto_wrap) out += "\x1b[?7h";
  if (m.origin) off(DECOM);
  if (m.insert) out += "\x1b[4l";
  if (t.charsets[0] != -1 || t.shift != 0) out += "\x1b(B\x0f";
  if (!(t.pen == term::Pen{})) out += "\x1b[m";
  if (m.cursor_hidden) out += "\x1b[?25h";
  out += "\x1b[<u";
  return out;
}

}  // namespace mossbank::run
