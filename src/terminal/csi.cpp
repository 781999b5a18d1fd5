#include "terminal/csi.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "terminal/edit.h"
#include "terminal/printing.h"
#include "terminal/sequences.h"
#include "terminal/utf8.h"

namespace mossbank::term {

namespace {

// A count parameter: values below 1 count as 1.
uint32_t count(const Parser& p, size_t i = 0) {
  int32_t v = p.param(i);
  return v < 1 ? 1u : static_cast<uint32_t>(v);
}

void reply(Terminal& t, const std::string& text) {
  if (t.replies) *t.replies += text;
}

void repeat_last(Terminal& t, uint32_t n) {
  if (t.print_state == 0) return;
  Buffer& b = t.active();
  const uint32_t w = (t.print_state >> 1) & 3;
  // The character just printed ends before the cursor, or under it when it
  // filled the last column without auto-wrap.
  const uint32_t after = b.cursor_col + ((t.print_state & kPrintedLastColumn) ? 1 : 0);
  if (after < w) return;
  const uint32_t col = after - w;
  const Line* line = buffer_get_line(b, b.screen_index(b.cursor_row));
  if (!line || col >= line->cells.size()) return;
  const Cell cell = line->cells[col];
  std::vector<uint32_t> cps;
  if (cell.has_text()) {
    if (auto text = line->text.find(col)) {
      const auto* p = reinterpret_cast<const uint8_t*>(text->data());
      const uint8_t* end = p + text->size();
      while (p < end) {
        uint32_t cp = decode_utf8(p, end);
        if (cp == kIncomplete) break;
        cps.push_back(cp);
      }
    }
  } else if (cell.code_point() != 0) {
    cps.push_back(cell.code_point());
  }
  if (cps.empty()) return;
  for (uint32_t i = 0, times = std::min(n, 65536u); i < times; ++i)
    print_chars(t, cps.data(), cps.size());
}

// ---- Margins, tabs and cursor state ----------------------------------------

void set_margins(Terminal& t, const Parser& p) {
  Buffer& b = t.active();
  int64_t top = std::max<int32_t>(p.param(0), 1);
  int64_t bottom = p.param_count < 2 ? 0 : p.param(1);
  if (bottom == 0 || bottom > b.rows) bottom = b.rows;
  if (top >= bottom) return;
  b.region_top = static_cast<uint32_t>(top - 1);
  b.region_bottom = static_cast<uint32_t>(bottom - 1);
  b.cursor_col = 0;
  b.cursor_row = t.modes.origin ? b.region_top : 0;
  clamp_cursor(t, false);
}

void soft_reset(Terminal& t) {
  t.modes.cursor_hidden = false;
  t.presentation.cursor_hidden = false;
  t.presentation.cursor_style = 0;
  Buffer& b = t.active();
  b.region_top = 0;
  b.region_bottom = b.rows - 1;
  t.pen = Pen{};
  t.modes.cursor_keys_application = false;
  t.modes.keypad_application = false;
  t.modes.bracketed_paste = false;
  t.modes.origin = false;
  t.modes.reverse_wrap = false;
  t.modes.focus_events = false;
  t.modes.synchronized_output = false;
  t.modes.auto_wrap = true;
  t.modes.insert = false;
  t.charsets = {-1, -1, -1, -1};
  t.active_charset = -1;
  t.shift = 0;
  b.saved = SavedCursor{};
}

// ---- SGR --------------------------------------------------------------------

void recompute_extras(Pen& pen) {
  if (underline_style(pen.underline) != 0 || pen.link != 0) {
    pen.bg |= kHasExtras;
  } else {
    pen.bg &= ~kHasExtras;
  }
}

void set_colour(uint32_t& word, uint32_t colour) { word = (word & ~kColourMask) | colour; }

uint32_t byte_of(int32_t v) { return v < 0 ? 0 : static_cast<uint32_t>(v) & 0xFF; }

// An extended colour (38, 48, 58) at parameter i; returns the index of the
// last parameter it used. `colour` is left alone for an unknown kind.
size_t extended_colour(const Parser& p, size_t i, std::optional<uint32_t>& colour) {
  const size_t subs = p.sub_param_count(i);
  if (subs > 0) {
    auto sub = [&](size_t j) { return j < subs ? p.sub_param(i, j) : 0; };
    int32_t kind = sub(0);
    if (kind == 5) {
      colour = colour_indexed(byte_of(sub(1)));
    } else if (kind == 2) {
      colour = colour_rgb(byte_of(sub(2)), byte_of(sub(3)), byte_of(sub(4)));
    }
    return i;
  }
  auto param = [&](size_t j) { return j < p.param_count ? p.param(j) : 0; };
  int32_t kind = param(i + 1);
  if (kind == 5) {
    colour = colour_indexed(byte_of(param(i + 2)));
    return std::min<size_t>(i + 2, p.param_count - 1);
  }
  if (kind == 2) {
    colour = colour_rgb(byte_of(param(i + 2)), byte_of(param(i + 3)), byte_of(param(i + 4)));
    return std::min<size_t>(i + 4, p.param_count - 1);
  }
  return std::min<size_t>(i + 1, p.param_count - 1);
}

// The codes that only set or clear one attribute bit of the pen.
enum class PenWord : uint8_t { fg, bg };
struct AttributeCode {
  int32_t code;
  PenWord word;
  uint32_t bit;
  bool on;
};

constexpr AttributeCode kAttributeCodes[] = {
    {1, PenWord::fg, kBold, true},      {22, PenWord::fg, kBold, false},
    {2, PenWord::bg, kDim, true},       {22, PenWord::bg, kDim, false},
    {3, PenWord::bg, kItalic, true},    {23, PenWord::bg, kItalic, false},
    {5, PenWord::fg, kBlink, true},     {25, PenWord::fg, kBlink, false},
    {7, PenWord::fg, kInverse, true},   {27, PenWord::fg, kInverse, false},
    {8, PenWord::fg, kHidden, true},    {28, PenWord::fg, kHidden, false},
    {9, PenWord::fg, kStrike, true},    {29, PenWord::fg, kStrike, false},
    {53, PenWord::bg, kOverline, true}, {55, PenWord::bg, kOverline, false},
};

// The same, by code, so that a parameter costs one look-up.
struct PenMasks {
  uint32_t fg_set = 0;
  uint32_t fg_clear = 0;
  uint32_t bg_set = 0;
  uint32_t bg_clear = 0;
};

constexpr size_t kAttributeCodeEnd = [] {
  int32_t last = 0;
  for (const AttributeCode& a : kAttributeCodes) last = std::max(last, a.code);
  return static_cast<size_t>(last) + 1;
}();

constexpr auto kAttributeMasks = [] {
  std::array<PenMasks, kAttributeCodeEnd> masks{};
  for (const AttributeCode& a : kAttributeCodes) {
    PenMasks& m = masks[static_cast<size_t>(a.code)];
    uint32_t& word =
        a.word == PenWord::fg ? (a.on ? m.fg_set : m.fg_clear) : (a.on ? m.bg_set : m.bg_clear);
    word |= a.bit;
  }
  return masks;
}();

void select_graphic_rendition(Terminal& t, const Parser& p) {
  Pen& pen = t.pen;
  for (size_t i = 0; i < p.param_count; ++i) {
    const int32_t v = p.param(i);
    switch (v) {
      case 0:
        pen.fg = 0;
        pen.underline &= ~(kColourMask | kUnderlineStyleMask);
        pen.bg = pen.link != 0 ? kHasExtras : 0;
        break;
      case 4: {
        int32_t style = p.sub_param_count(i) > 0 ? p.sub_param(i, 0) : 1;
        if (style == 0) {
          pen.fg &= ~kUnderline;
          pen.underline &= ~kUnderlineStyleMask;
        } else {
          if (style < 1 || style > 5) style = 1;
          pen.fg |= kUnderline;
          pen.underline = (pen.underline & ~kUnderlineStyleMask) | uint32_t(style)
                                                                       << kUnderlineStyleShift;
        }
        recompute_extras(pen);
        break;
      }
      case 21:
        pen.fg |= kUnderline;
        pen.underline = (pen.underline & ~kUnderlineStyleMask) | 2u << kUnderlineStyleShift;
        recompute_extras(pen);
        break;
      case 24:
        pen.fg &= ~kUnderline;
        pen.underline &= ~kUnderlineStyleMask;
        recompute_extras(pen);
        break;
      case 39:
        set_colour(pen.fg, 0);
        break;
      case 49:
        set_colour(pen.bg, 0);
        break;
      case 59:
        pen.underline |= kColourMask;
        recompute_extras(pen);
        break;
      case 38:
      case 48:
      case 58: {
        std::optional<uint32_t> colour;
        size_t last = extended_colour(p, i, colour);
        if (colour) set_colour(v == 38 ? pen.fg : v == 48 ? pen.bg : pen.underline, *colour);
        i = last;
        break;
      }
      default:
        if (v >= 0 && static_cast<size_t>(v) < kAttributeMasks.size()) {
          const PenMasks& m = kAttributeMasks[static_cast<size_t>(v)];
          pen.fg = (pen.fg & ~m.fg_clear) | m.fg_set;
          pen.bg = (pen.bg & ~m.bg_clear) | m.bg_set;
        }
        if (v >= 30 && v <= 37) {
          set_colour(pen.fg, colour_palette(v - 30));
        } else if (v >= 90 && v <= 97) {
          set_colour(pen.fg, colour_palette(v - 90 + 8));
        } else if (v >= 40 && v <= 47) {
          set_colour(pen.bg, colour_palette(v - 40));
        } else if (v >= 100 && v <= 107) {
          set_colour(pen.bg, colour_palette(v - 100 + 8));
        }
        break;
    }
  }
}

// ---- Modes ------------------------------------------------------------------

void enter_alternate_screen(Terminal& t) {
  if (t.modes.alternate_screen) return;
  update_erase_pen(t);
  buffer_fill_blank(t.alternate, t.erase_pen);
  t.alternate.cursor_row = t.primary.cursor_row;
  t.alternate.cursor_col = t.primary.cursor_col;
  t.modes.alternate_screen = true;
}

void leave_alternate_screen(Terminal& t) {
  if (!t.modes.alternate_screen) return;
  t.primary.cursor_row = std::min(t.alternate.cursor_row, t.primary.rows - 1);
  t.primary.cursor_col = t.alternate.cursor_col;
  reset_buffer(t.alternate);
  t.modes.alternate_screen = false;
}

void set_ansi_modes(Terminal& t, const Parser& p, bool on) {
  for (size_t i = 0; i < p.param_count; ++i) {
    if (p.param(i) == ansi_mode::IRM) t.modes.insert = on;
    if (p.param(i) == ansi_mode::LNM) t.modes.newline = on;
  }
}

// The DEC private modes that are one flag of TerminalModes and nothing else:
// setting one and reporting it both read this table.
struct FlagMode {
  int32_t mode;
  bool TerminalModes::*flag;
};
constexpr FlagMode kFlagModes[] = {
    {dec_mode::DECCKM, &TerminalModes::cursor_keys_application},
    {dec_mode::DECAWM, &TerminalModes::auto_wrap},
    {dec_mode::CURSOR_BLINK, &TerminalModes::cursor_blink},
    {dec_mode::REVERSE_WRAP, &TerminalModes::reverse_wrap},
    {dec_mode::DECNKM, &TerminalModes::keypad_application},
    {dec_mode::FOCUS_EVENTS, &TerminalModes::focus_events},
    {dec_mode::BRACKETED_PASTE, &TerminalModes::bracketed_paste},
    {dec_mode::SYNCHRONIZED_OUTPUT, &TerminalModes::synchronized_output},
};

bool TerminalModes::*flag_of(int32_t mode) {
  for (const FlagMode& f : kFlagModes) {
    if (f.mode == mode) return f.flag;
  }
  return nullptr;
}

// The mouse tracking and the mouse encoding that a DEC mode turns on.
MouseTracking tracking_of(int32_t mode) {
  return mode == dec_mode::MOUSE_X10            ? MouseTracking::x10
         : mode == dec_mode::MOUSE_NORMAL       ? MouseTracking::normal
         : mode == dec_mode::MOUSE_BUTTON_EVENT ? MouseTracking::button_event
                                                : MouseTracking::any_event;
}

MouseEncoding encoding_of(int32_t mode) {
  return mode == dec_mode::MOUSE_SGR ? MouseEncoding::sgr : MouseEncoding::sgr_pixels;
}

void set_dec_mode(Terminal& t, int32_t mode, bool on) {
  TerminalModes& m = t.modes;
  switch (mode) {
    case dec_mode::DECANM:
      if (on) {
        t.charsets = {-1, -1, -1, -1};
        t.active_charset = -1;
      }
      break;
    case dec_mode::DECOM:
      m.origin = on;
      if (on) {
        t.active().cursor_col = 0;
        t.active().cursor_row = t.active().region_top;
      } else {
        t.active().cursor_col = 0;
        t.active().cursor_row = 0;
      }
      clamp_cursor(t, false);
      break;
    case dec_mode::DECTCEM:
      m.cursor_hidden = !on;
      t.presentation.cursor_hidden = !on;
      break;
    case dec_mode::ALT_SCREEN:
    case dec_mode::ALT_SCREEN_1047:
      if (on) {
        enter_alternate_screen(t);
      } else {
        leave_alternate_screen(t);
      }
      break;
    case dec_mode::MOUSE_X10:
    case dec_mode::MOUSE_NORMAL:
    case dec_mode::MOUSE_BUTTON_EVENT:
    case dec_mode::MOUSE_ANY_EVENT:
      m.mouse_tracking = on ? tracking_of(mode) : MouseTracking::off;
      break;
    case dec_mode::MOUSE_SGR:
    case dec_mode::MOUSE_SGR_PIXELS:
      m.mouse_encoding = on ? encoding_of(mode) : MouseEncoding::normal;
      if (on) {
        t.presentation.mouse_encoding_mode = static_cast<uint32_t>(mode);
      } else {
        t.presentation.mouse_encoding_mode.reset();
      }
      break;
    case dec_mode::SAVE_CURSOR:
      if (on) {
        save_cursor(t);
      } else {
        restore_cursor(t);
      }
      break;
    case dec_mode::ALT_SCREEN_SAVE_CURSOR:
      if (on) {
        save_cursor(t);
        enter_alternate_screen(t);
      } else {
        leave_alternate_screen(t);
        restore_cursor(t);
      }
      break;
    default:
      if (bool TerminalModes::*field = flag_of(mode)) m.*field = on;
      break;
  }
}

// ---- Replies ----------------------------------------------------------------

// A DECRQM answer's value.
enum class ModeReport : uint32_t {
  unknown = 0,
  set = 1,
  reset = 2,
  always_set = 3,
  always_reset = 4,
};

ModeReport flag(bool on) { return on ? ModeReport::set : ModeReport::reset; }

ModeReport dec_mode_value(const Terminal& t, int32_t mode) {
  const TerminalModes& m = t.modes;
  switch (mode) {
    case dec_mode::DECOM:
      return flag(m.origin);
    case dec_mode::DECARM:
      return ModeReport::always_set;
    case dec_mode::DECTCEM:
      return flag(!m.cursor_hidden);
    case dec_mode::ALT_SCREEN:
    case dec_mode::ALT_SCREEN_1047:
    case dec_mode::ALT_SCREEN_SAVE_CURSOR:
      return flag(m.alternate_screen);
    case dec_mode::DECBKM:
    case dec_mode::MOUSE_UTF8:
    case dec_mode::MOUSE_URXVT:
      return ModeReport::always_reset;
    case dec_mode::MOUSE_X10:
    case dec_mode::MOUSE_NORMAL:
    case dec_mode::MOUSE_BUTTON_EVENT:
    case dec_mode::MOUSE_ANY_EVENT:
      return flag(m.mouse_tracking == tracking_of(mode));
    case dec_mode::MOUSE_SGR:
    case dec_mode::MOUSE_SGR_PIXELS:
      return flag(m.mouse_encoding == encoding_of(mode));
    case dec_mode::SAVE_CURSOR:
      return ModeReport::set;
    default: {
      bool TerminalModes::*field = flag_of(mode);
      return field ? flag(m.*field) : ModeReport::unknown;
    }
  }
}

ModeReport ansi_mode_value(const Terminal& t, int32_t mode) {
  switch (mode) {
    case ansi_mode::KAM:
      return ModeReport::always_reset;
    case ansi_mode::IRM:
      return flag(t.modes.insert);
    case ansi_mode::SRM:
      return ModeReport::always_set;
    case ansi_mode::LNM:
      return flag(t.modes.newline);
    default:
      return ModeReport::unknown;
  }
}

bool only_zero(const Parser& p) { return p.param_count == 1 && p.params[0] == 0; }

}  // namespace

void csi_dispatch(Terminal& t, uint32_t key, const Parser& p) {
  Buffer& b = t.active();
  const int32_t n = p.param(0);
  switch (key) {
    case csi::CUU:
      cursor_up(t, count(p));
      break;
    case csi::CUD:
      cursor_down(t, count(p));
      break;
    case csi::CUF:
    case csi::HPR:
      cursor_right(t, count(p));
      break;
    case csi::CUB:
      cursor_right(t, -int64_t{count(p)});
      break;
    case csi::CNL:
      cursor_down(t, count(p));
      t.active().cursor_col = 0;
      break;
    case csi::CPL:
      cursor_up(t, count(p));
      t.active().cursor_col = 0;
      break;
    case csi::CHA:
    case csi::HPA:
      set_cursor_position(t, int64_t{count(p)} - 1, b.cursor_row);
      break;
    case csi::VPA:
      set_cursor_position(t, b.cursor_col,
                          int64_t{count(p)} - 1 + (t.modes.origin ? b.region_top : 0));
      break;
    case csi::VPR:
      clamp_cursor(t, false);
      set_cursor_position(t, b.cursor_col, int64_t{b.cursor_row} + count(p));
      break;
    case csi::CUP:
    case csi::HVP:
      set_cursor_position(t, int64_t{count(p, 1)} - 1,
                          int64_t{count(p, 0)} - 1 + (t.modes.origin ? b.region_top : 0));
      break;
    case csi::CHT:
      if (b.cursor_col < b.cols)
        for (uint32_t i = 0, k = std::min(count(p), b.cols); i < k; ++i)
          b.cursor_col = next_tab_stop(b);
      break;
    case csi::CBT:
      // A missing count means one, as for every other count.
      if (b.cursor_col < b.cols)
        for (uint32_t i = 0, k = std::min(count(p), b.cols); i < k; ++i)
          b.cursor_col = previous_tab_stop(b);
      break;
    case csi::ED:
      erase_in_display(t, n, false);
      break;
    case csi::DECSED:
      erase_in_display(t, n, true);
      break;
    case csi::EL:
      erase_in_line(t, n, false);
      break;
    case csi::DECSEL:
      erase_in_line(t, n, true);
      break;
    case csi::ECH:
      erase_characters(t, count(p));
      break;
    case csi::ICH:
      insert_characters(t, count(p));
      break;
    case csi::DCH:
      delete_characters(t, count(p));
      break;
    case csi::IL:
      insert_lines(t, count(p));
      break;
    case csi::DL:
      delete_lines(t, count(p));
      break;
    case csi::SU:
      scroll_region_up(t, count(p));
      break;
    case csi::SD:
      scroll_region_down(t, count(p));
      break;
    case csi::SL:
      scroll_left(t, count(p));
      break;
    case csi::SR:
      scroll_right(t, count(p));
      break;
    case csi::DECIC:
      insert_columns(t, count(p));
      break;
    case csi::DECDC:
      delete_columns(t, count(p));
      break;
    case csi::REP:
      repeat_last(t, count(p));
      break;
    case csi::DECSTBM:
      set_margins(t, p);
      break;
    case csi::TBC:
      if (n == 0 && b.cursor_col < b.tab_stops.size()) b.tab_stops[b.cursor_col] = 0;
      if (n == 3) std::fill(b.tab_stops.begin(), b.tab_stops.end(), 0);
      break;
    case csi::SCOSC:
      save_cursor(t);
      break;
    case csi::SCORC:
      restore_cursor(t);
      break;
    case csi::DECSCUSR:
      t.presentation.cursor_style = n < 0 ? 0 : static_cast<uint32_t>(n);
      break;
    case csi::DECSCA:
      if (n == 1) t.pen.bg |= kProtected;
      if (n == 0 || n == 2) t.pen.bg &= ~kProtected;
      break;
    case csi::DECSTR:
      soft_reset(t);
      break;
    case csi::SGR:
      select_graphic_rendition(t, p);
      break;
    case csi::SM:
      set_ansi_modes(t, p, true);
      break;
    case csi::RM:
      set_ansi_modes(t, p, false);
      break;
    case csi::DECSET:
      for (size_t i = 0; i < p.param_count; ++i) set_dec_mode(t, p.param(i), true);
      break;
    case csi::DECRST:
      for (size_t i = 0; i < p.param_count; ++i) set_dec_mode(t, p.param(i), false);
      break;
    case csi::DA1:
      if (only_zero(p)) reply(t, "\x1b[?1;2c");
      break;
    case csi::DA2:
      if (only_zero(p)) reply(t, "\x1b[>0;276;0c");
      break;
    case csi::DSR:
      if (n == 5) reply(t, "\x1b[0n");
      if (n == 6)
        reply(t, "\x1b[" + std::to_string(b.cursor_row + 1) + ";" +
                     std::to_string(b.cursor_col + 1) + "R");
      break;
    case csi::DECDSR:
      if (n == 6)
        reply(t, "\x1b[?" + std::to_string(b.cursor_row + 1) + ";" +
                     std::to_string(b.cursor_col + 1) + "R");
      break;
    case csi::DECRQM_ANSI:
      reply(t, "\x1b[" + std::to_string(n) + ";" +
                   std::to_string(static_cast<uint32_t>(ansi_mode_value(t, n))) + "$y");
      break;
    case csi::DECRQM:
      reply(t, "\x1b[?" + std::to_string(n) + ";" +
                   std::to_string(static_cast<uint32_t>(dec_mode_value(t, n))) + "$y");
      break;
    default:
      break;
  }
}

}  // namespace mossbank::term
