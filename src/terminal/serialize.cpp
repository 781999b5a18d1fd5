// The whole screen as one escape-sequence stream that redraws it on a fresh
// terminal of the same size: rows with their colours and attributes, soft
// wraps reproduced as real wraps, the alternate screen, the cursor and pen,
// and the modes that differ from their defaults.
#include <charconv>
#include <string>
#include <string_view>

#include "base/controls.h"
#include "terminal/terminal.h"

namespace mossbank::term {

namespace {

void append_number(std::string& out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_csi(std::string& out, uint64_t n, char final_byte) {
  out += "\x1b[";
  append_number(out, n);
  out += final_byte;
}

uint32_t colour(uint32_t word) { return word & kColourMask; }

bool underlined(const Pen& p) {
  if (p.has_extras() && (underline_style(p.underline) != 0 || p.link != 0)) return true;
  return (p.fg & kUnderline) != 0;
}

// The attributes in the order their codes are written: (is on, on, off).
struct Attribute {
  bool (*on)(const Pen&);
  int set;
  int reset;
};

constexpr Attribute kAttributes[] = {
    {[](const Pen& p) { return (p.fg & kInverse) != 0; }, 7, 27},
    {[](const Pen& p) { return (p.fg & kBold) != 0; }, 1, 22},
    {underlined, 4, 24},
    {[](const Pen& p) { return (p.bg & kOverline) != 0; }, 53, 55},
    {[](const Pen& p) { return (p.fg & kBlink) != 0; }, 5, 25},
    {[](const Pen& p) { return (p.fg & kHidden) != 0; }, 8, 28},
    {[](const Pen& p) { return (p.bg & kItalic) != 0; }, 3, 23},
    {[](const Pen& p) { return (p.bg & kDim) != 0; }, 2, 22},
    {[](const Pen& p) { return (p.fg & kStrike) != 0; }, 9, 29},
};

// The attribute states packed into bits, for a quick comparison.
uint32_t attribute_bits(const Pen& p) {
  constexpr uint32_t kFgAttrs = kInverse | kBold | kBlink | kHidden | kStrike;
  constexpr uint32_t kBgAttrs = kOverline | kItalic | kDim;
  return (p.fg & kFgAttrs) | (p.bg & kBgAttrs) >> 20 | (underlined(p) ? 1u : 0u);
}

bool same_attributes(const Pen& a, const Pen& b) { return attribute_bits(a) == attribute_bits(b); }

// Nothing the serialiser writes differs between the two pens.
bool same_look(const Pen& a, const Pen& b) {
  return colour(a.fg) == colour(b.fg) && colour(a.bg) == colour(b.bg) && same_attributes(a, b);
}

// Parameters are appended to `out`, each after a ';' except the first of a
// sequence (`first` tracks that).
struct Params {
  std::string& out;
  bool first = true;
  void add(uint64_t v) {
    if (!first) out += ';';
    first = false;
    append_number(out, v);
  }
};

// Parameters of a colour: base 30 (foreground) or 40 (background).
void push_sgr_colour(Params& params, uint32_t c, int base) {
  switch (colour_kind(c)) {
    case kColourDefault:
      params.add(base + 9);
      break;
    case kColourPalette:
    case kColourIndexed: {
      uint32_t i = c & 0xFF;
      if (colour_kind(c) == kColourPalette || i < 16) {
        params.add(i < 8 ? base + i : base + 60 + (i - 8));
      } else {
        params.add(base + 8);
        params.add(5);
        params.add(i);
      }
      break;
    }
    case kColourRgb:
      params.add(base + 8);
      params.add(2);
      params.add(c >> 16 & 0xFF);
      params.add(c >> 8 & 0xFF);
      params.add(c & 0xFF);
      break;
  }
}

// Writes the SGR sequence that takes a terminal from pen `cur` to pen
// `next`; nothing when nothing needs writing.
void write_sgr_diff(std::string& out, const Pen& next, const Pen& cur) {
  const bool fg_same = colour(next.fg) == colour(cur.fg);
  const bool bg_same = colour(next.bg) == colour(cur.bg);
  const bool attrs_same = same_attributes(next, cur);
  if (fg_same && bg_same && attrs_same) return;
  if (next.fg == 0 && next.bg == 0) {
    if (cur.fg != 0 || cur.bg != 0) out += "\x1b[0m";
    return;
  }
  out += "\x1b[";
  Params params{out};
  if (!fg_same) push_sgr_colour(params, colour(next.fg), 30);
  if (!bg_same) push_sgr_colour(params, colour(next.bg), 40);
  if (!attrs_same) {
    bool wrote_22 = false, bold_after = false, dim_after = false;
    for (const Attribute& attr : kAttributes) {
      const bool on = attr.on(next);
      if (on == attr.on(cur)) continue;
      params.add(static_cast<uint64_t>(on ? attr.set : attr.reset));
      if (!on && attr.reset == 22) {
        wrote_22 = true;
        bold_after = dim_after = false;
      }
      if (on && attr.set == 1) bold_after = true;
      if (on && attr.set == 2) dim_after = true;
    }
    // 22 ends bold and dim together: the one that stays on is sent again.
    if (wrote_22) {
      if ((next.fg & kBold) && !bold_after) params.add(1);
      if ((next.bg & kDim) && !dim_after) params.add(2);
    }
  }
  out += 'm';
}

// One cell as the serialiser sees it.
struct Seen {
  std::string_view text;  // empty: a blank
  Pen pen;
  uint32_t width = 1;
  bool spacer = false;
};

Seen seen_at(const Line* line, uint32_t col, std::string& scratch) {
  Seen s;
  if (!line) return s;
  Cell c = cell_at(*line, col);
  if (c.code_point() != 0 && c.code_point() < 0x80 && !(c.bg & kHasExtras)) {
    // Plain ASCII: the common cell, without side data.
    static constexpr char kAscii[129] =
        "\0\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
        "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
        " !\"#$%&'()*+,-./"
        "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~\x7f";
    s.text = std::string_view(kAscii + c.code_point(), 1);
    s.width = c.width();
    s.pen.fg = c.fg;
    s.pen.bg = c.bg;
    return s;
  }
  s.width = c.width();
  s.spacer = c.width() == 0 && !c.has_content();
  s.pen.fg = c.fg;
  s.pen.bg = c.bg;
  if (c.bg & kHasExtras)
    if (const Extras* e = line->attrs.find(col)) {
      s.pen.underline = e->underline;
      s.pen.link = e->link;
    }
  if (c.has_text()) {
    if (auto t = line->text.find(col)) s.text = *t;
  } else if (c.code_point() != 0) {
    scratch.clear();
    append_utf8(scratch, c.code_point());
    s.text = scratch;
  }
  return s;
}

bool same_bg(const Pen& a, const Pen& b) { return colour(a.bg) == colour(b.bg); }

// Writes a buffer's rows: the cells, then between rows either a line break
// or the reproduction of a soft wrap, then the move to the buffer's cursor.
struct RowWriter {
  std::string out;
  Pen cur;           // the pen of the last written cell
  uint32_t run = 0;  // pending blank columns
  int64_t row = 0;   // the receiving terminal's cursor, in absolute rows
  uint32_t col = 0;
  // Where the last written content ends, for cutting off trailing rows.
  size_t content_len = 0;
  int64_t content_row = 0;
  uint32_t content_col = 0;
  // More rows are written than the screen holds: the receiver scrolls.
  bool scrolls = false;
  std::string scratch;

  void mark_content() {
    content_len = out.size();
    content_row = row;
    content_col = col;
  }
  void flush_run() {
    if (run == 0) return;
    if (colour(cur.bg) != 0) append_csi(out, run, 'X');
    append_csi(out, run, 'C');
    col += run;
    run = 0;
    mark_content();
  }

  // Columns 0 .. width-1 of a line: blanks in the current background
  // gather into the pending run; anything else flushes it first.
  void write_cells(const Line& line, uint32_t width) {
    for (uint32_t c = 0; c < width;) {
      Seen s = seen_at(&line, c, scratch);
      if (s.width == 0) {  // a spacer
        c += 1;
        continue;
      }
      c += s.width;
      const bool blank = s.text.empty();
      if (blank && same_bg(s.pen, cur)) {
        run += s.width;
        continue;
      }
      const bool differs = !same_look(s.pen, cur);
      if (blank || differs) {
        flush_run();
        if (differs) write_sgr_diff(out, s.pen, cur);
        cur = s.pen;
        mark_content();
        if (blank) {
          run = s.width;
          continue;
        }
      }
      flush_run();
      out += s.text;
      col += s.width;
      mark_content();
    }
  }

  // A pending run at the end of a line is erased, never moved over.
  void end_line() {
    if (run > 0 && colour(cur.bg) != 0) {
      append_csi(out, run, 'X');
      mark_content();
    }
  }

  // When the receiving terminal scrolls, a scroll fills the new row with
  // the current background: keep it the default at every place that may
  // scroll.
  bool default_background() {
    if (!scrolls || colour(cur.bg) == 0) return false;
    out += "\x1b[49m";
    cur.bg &= ~kColourMask;
    return true;
  }

  void line_break() {
    default_background();
    out += "\r\n";
  }

  // Whether the receiving terminal, printing the next row's first cell
  // after this row with n blank columns pending, wraps onto the next row
  // by itself and lands the same way.
  bool wraps_by_itself(const Line* line, uint32_t width, const Line* next, uint32_t n) {
    Seen a = seen_at(line, width - 1, scratch);
    std::string scratch_b;
    Seen bb = width >= 2 ? seen_at(line, width - 2, scratch_b) : Seen{};
    std::string scratch_n;
    Seen nn = seen_at(next, 0, scratch_n);
    const bool n_wide = nn.width == 2;
    const bool a_fits = (!a.text.empty() || a.spacer) && same_bg(a.pen, cur);
    const bool b_blank = bb.text.empty() && !bb.spacer;
    bool wraps_itself = n == 0 || (n <= 1 && n_wide && !nn.text.empty());
    if (!n_wide) {
      wraps_itself = wraps_itself && a_fits;
    } else if (b_blank) {
      wraps_itself = wraps_itself && a_fits;
    } else {
      wraps_itself = wraps_itself && same_bg(a.pen, cur) && (a_fits || same_bg(bb.pen, cur));
    }
    // Only text makes the receiving terminal wrap; a continuation that
    // starts with a blank would be moved to with the cursor, which does not.
    wraps_itself = wraps_itself && !nn.text.empty();
    if (scrolls && colour(nn.pen.bg) != 0) wraps_itself = false;
    return wraps_itself;
  }

  // A filler that fills the row and wraps, erased again: n+1 dashes, the
  // one that wrapped removed, and the n that stand on blank columns
  // erased from the row above.
  void write_wrap_filler(uint32_t width, uint32_t n) {
    out.append(n + 1, '-');
    out += "\x1b[1D\x1b[1X";
    if (n > 0) {
      out += "\x1b[A";
      append_csi(out, width - n, 'C');
      append_csi(out, n, 'X');
      append_csi(out, width - n, 'D');
      out += "\x1b[B";
    }
    // ECH, not EL: erasing from column 0 with EL would undo the wrap.
    if (default_background()) append_csi(out, width, 'X');
  }

  // What goes between a line and the next; the position ends at column 0
  // of the next row.
  void write_separator(const Line* line, uint32_t width, const Line* next) {
    const uint32_t n = run;
    run = 0;
    if (!next || !next->wrapped) {
      line_break();
    } else if (!wraps_by_itself(line, width, next, n)) {
      write_wrap_filler(width, n);
    }
    ++row;
    col = 0;
  }

  // From the final position to the buffer's cursor, rows first; then the
  // terminal's pen. When every written row fits on the screen, the rows
  // after the last content are left out.
  void finish(const Terminal& t, const Buffer& b, bool fits) {
    int64_t final_row = row;
    uint32_t final_col = col;
    if (fits) {
      out.resize(content_len);
      final_row = content_row;
      final_col = content_col;
    }
    const int64_t target_row = int64_t{b.scroll_back} + b.cursor_row;
    if (target_row > final_row) append_csi(out, static_cast<uint64_t>(target_row - final_row), 'B');
    if (target_row < final_row) append_csi(out, static_cast<uint64_t>(final_row - target_row), 'A');
    if (b.cursor_col > final_col) append_csi(out, b.cursor_col - final_col, 'C');
    if (b.cursor_col < final_col) append_csi(out, final_col - b.cursor_col, 'D');
    write_sgr_diff(out, t.pen, cur);
  }
};

std::string serialize_rows(const Terminal& t, const Buffer& b, bool screen_only) {
  const size_t count = b.lines.count();
  if (count == 0) return {};
  const size_t first = screen_only && count >= b.rows ? count - b.rows : 0;
  RowWriter w;
  w.scrolls = count - first > b.rows;
  w.out.reserve((count - first) * (b.cols + 16));
  w.row = static_cast<int64_t>(first);
  w.content_row = w.row;
  for (size_t i = first; i < count; ++i) {
    const Line* line = buffer_get_line(b, i);
    const uint32_t width = line ? std::min(line->width, b.cols) : b.cols;
    if (line) w.write_cells(*line, width);
    w.end_line();
    if (i + 1 == count) break;
    w.write_separator(line, width, buffer_get_line(b, i + 1));
  }
  w.finish(t, b, count - first <= b.rows);
  return std::move(w.out);
}

std::string serialize_modes(const Terminal& t) {
  const TerminalModes& m = t.modes;
  std::string out;
  if (m.cursor_keys_application) out += "\x1b[?1h";
  if (m.keypad_application) out += "\x1b[?66h";
  if (m.bracketed_paste) out += "\x1b[?2004h";
  if (m.insert) out += "\x1b[4h";
  if (m.reverse_wrap) out += "\x1b[?45h";
  if (m.focus_events) out += "\x1b[?1004h";
  if (!m.auto_wrap) out += "\x1b[?7l";
  static constexpr const char* kTracking[] = {"", "\x1b[?9h", "\x1b[?1000h", "\x1b[?1002h",
                                              "\x1b[?1003h"};
  out += kTracking[static_cast<size_t>(m.mouse_tracking)];
  return out;
}

// A background colour as the fill writes it: every 256-colour index as 48;5.
void append_fill_colour(std::string& out, uint32_t c) {
  const uint32_t i = c & 0xFF;
  if (colour_kind(c) == kColourPalette) {
    append_number(out, i < 8 ? 40 + i : 100 + (i - 8));
  } else if (colour_kind(c) == kColourIndexed) {
    out += "48;5;";
    append_number(out, i);
  } else {
    out += "48;2;";
    append_number(out, c >> 16 & 0xFF);
    out += ';';
    append_number(out, c >> 8 & 0xFF);
    out += ';';
    append_number(out, c & 0xFF);
  }
}

// Rows without any text but with coloured blanks, painted in place.
std::string background_fill(const Buffer& b) {
  std::string fills;
  for (uint32_t r = 0; r < b.rows; ++r) {
    const Line* line = buffer_get_line(b, b.screen_index(r));
    if (!line || line->width < b.cols) continue;
    bool has_text = false;
    for (const Cell& c : line->cells) has_text |= c.has_content();
    if (has_text) continue;
    for (uint32_t c = 0; c < b.cols;) {
      const uint32_t bg = colour(cell_at(*line, c).bg);
      uint32_t end = c + 1;
      while (end < b.cols && colour(cell_at(*line, end).bg) == bg) ++end;
      if (bg != 0) {
        fills += "\x1b[";
        append_number(fills, r + 1);
        fills += ';';
        append_number(fills, c + 1);
        fills += "H\x1b[0;";
        append_fill_colour(fills, bg);
        fills += 'm';
        append_csi(fills, end - c, 'X');
      }
      c = end;
    }
  }
  return fills.empty() ? fills
                       : "\x1b"
                         "7" +
                             fills +
                             "\x1b"
                             "8";
}

void append_cup(std::string& out, uint64_t row, uint64_t col) {
  out += "\x1b[";
  append_number(out, row + 1);
  out += ';';
  append_number(out, col + 1);
  out += 'H';
}

// The cursor of the primary buffer before the alternate screen is entered
// (which homes it again); nothing at the pending-wrap column.
std::string serialize_cursor_position(const Buffer& b) {
  if (b.cursor_col >= b.cols) return {};
  std::string out;
  append_cup(out, b.cursor_row, b.cursor_col);
  return out;
}

// The scroll region, origin mode and the cursor last: setting either of the
// first two homes the cursor. In origin mode rows count from the region's
// top. A pending wrap cannot be reached by a move, so the character in the
// last column is printed again in its pen (a blank last column can only be
// moved to).
std::string serialize_region_and_cursor(const Terminal& t, const Buffer& b) {
  std::string out;
  if (b.region_top != 0 || b.region_bottom + 1 != b.rows) {
    out += "\x1b[";
    append_number(out, b.region_top + 1);
    out += ';';
    append_number(out, b.region_bottom + 1);
    out += 'r';
  }
  if (t.modes.origin) out += "\x1b[?6h";
  const uint32_t top = t.modes.origin ? b.region_top : 0;
  const uint32_t row = b.cursor_row >= top ? b.cursor_row - top : 0;
  if (b.cursor_col < b.cols) {
    append_cup(out, row, b.cursor_col);
    return out;
  }
  const Line* line = buffer_get_line(b, b.screen_index(b.cursor_row));
  uint32_t col = b.cols - 1;
  if (line && col > 0 && cell_at(*line, col).is_spacer() && cell_at(*line, col - 1).is_wide())
    --col;
  append_cup(out, row, col);
  std::string scratch;
  const Seen last = seen_at(line, col, scratch);
  if (last.text.empty()) return out;
  write_sgr_diff(out, last.pen, t.pen);
  out += last.text;
  write_sgr_diff(out, t.pen, last.pen);
  return out;
}

void remove_empty_moves(std::string& s) {
  size_t r = s.find("\x1b[0");
  if (r == std::string::npos) return;
  size_t w = r;
  while (r < s.size()) {
    if (s[r] == kEsc && r + 3 < s.size() && s[r + 1] == '[' && s[r + 2] == '0' &&
        (s[r + 3] == 'C' || s[r + 3] == 'D')) {
      r += 4;
      continue;
    }
    s[w++] = s[r++];
  }
  s.resize(w);
}

}  // namespace

std::string serialize(const Terminal& t, bool screen_only) {
  std::string out = serialize_rows(t, t.primary, screen_only);
  if (t.modes.alternate_screen) {
    out += background_fill(t.primary);
    out += "\x1b[0m";
    out += serialize_cursor_position(t.primary);
    out += "\x1b[?1049h\x1b[H";
    out += serialize_rows(t, t.alternate, false);
  }
  remove_empty_moves(out);
  out += background_fill(t.active());
  out += serialize_region_and_cursor(t, t.active());
  out += serialize_modes(t);
  return out;
}

std::string serialize_presentation(const Terminal& t) {
  std::string out;
  if (t.presentation.cursor_hidden) out += "\x1b[?25l";
  if (t.presentation.mouse_encoding_mode) {
    out += "\x1b[?";
    append_number(out, *t.presentation.mouse_encoding_mode);
    out += 'h';
  }
  if (t.presentation.cursor_style > 0) {
    out += "\x1b[";
    append_number(out, t.presentation.cursor_style);
    out += " q";
  }
  if (!t.presentation.safe_title.empty()) {
    out += "\x1b]2;";
    out += t.presentation.safe_title;
    out += kBel;
  }
  return out;
}

}  // namespace mossbank::term
