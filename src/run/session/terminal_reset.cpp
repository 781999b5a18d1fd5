#include "run/session/terminal_reset.h"

namespace mossbank::run {

std::string end_reset(const Terminal& t) {
  const TerminalModes& m = t.modes;
  std::string out;
  auto off = [&](int mode) { out += "\x1b[?" + std::to_string(mode) + "l"; };
  if (m.mouse_tracking != 0)
    for (int mode : {9, 1000, 1001, 1002, 1003, 1005, 1006, 1015, 1016}) off(mode);
  if (m.focus_events) off(1004);
  if (m.bracketed_paste) off(2004);
  if (m.alternate_screen) off(1049);
  if (m.cursor_keys_application) off(1);
  if (m.keypad_application) out += "\x1b>";
  if (m.synchronized_output) off(2026);
  const term::Buffer& b = t.active();
  if (b.region_top != 0 || b.region_bottom + 1 != b.rows)
    out +=
        "\x1b"
        "7\x1b[r\x1b"
        "8";
  if (!m.auto_wrap) out += "\x1b[?7h";
  if (m.origin) off(6);
  if (m.insert) out += "\x1b[4l";
  if (t.charsets[0] != -1 || t.shift != 0) out += "\x1b(B\x0f";
  if (!(t.pen == term::Pen{})) out += "\x1b[m";
  if (m.cursor_hidden) out += "\x1b[?25h";
  out += "\x1b[<u";
  return out;
}

}  // namespace mossbank::run
