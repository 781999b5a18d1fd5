#include "terminal/printing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "terminal/edit.h"
#include "terminal/sequences.h"
#include "terminal/utf8.h"
#include "terminal/widths.h"

namespace mossbank::term {

namespace {

// ---- Character sets -------------------------------------------------------

// Each set: the designation finals, the characters it replaces and what
// they become. Searched in this order; the first set naming the final wins.
struct CharsetSpec {
  std::string_view finals;
  std::string_view from;
  std::array<uint32_t, 32> to;
};

constexpr CharsetSpec kCharsets[] = {
    {"0",
     "`abcdefghijklmnopqrstuvwxyz{|}~",
     {0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
      0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524,
      0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7}},
    {"A", "#", {0x00A3}},  // United Kingdom
    {"4",
     "#@[\\]{|}~",  // Dutch
     {0x00A3, 0x00BE, 0x0069, 0x00BD, 0x007C, 0x00A8, 0x0066, 0x00BC, 0x00B4}},
    {"C5",
     "[\\]^`{|}~",  // Finnish
     {0x00C4, 0x00D6, 0x00C5, 0x00DC, 0x00E9, 0x00E4, 0x00F6, 0x00E5, 0x00FC}},
    {"R",
     "#@[\\]{|}~",  // French
     {0x00A3, 0x00E0, 0x00B0, 0x00E7, 0x00A7, 0x00E9, 0x00F9, 0x00E8, 0x00A8}},
    {"Q",
     "@[\\]^`{|}~",  // French Canadian
     {0x00E0, 0x00E2, 0x00E7, 0x00EA, 0x00EE, 0x00F4, 0x00E9, 0x00F9, 0x00E8, 0x00FB}},
    {"K",
     "@[\\]{|}~",  // German
     {0x00A7, 0x00C4, 0x00D6, 0x00DC, 0x00E4, 0x00F6, 0x00FC, 0x00DF}},
    {"Y",
     "#@[\\]`{|}~",  // Italian
     {0x00A3, 0x00A7, 0x00B0, 0x00E7, 0x00E9, 0x00F9, 0x00E0, 0x00F2, 0x00E8, 0x00EC}},
    {"E6",
     "@[\\]^`{|}~",  // Norwegian/Danish
     {0x00C4, 0x00C6, 0x00D8, 0x00C5, 0x00DC, 0x00E4, 0x00E6, 0x00F8, 0x00E5, 0x00FC}},
    {"Z",
     "#@[\\]{|}",  // Spanish
     {0x00A3, 0x00A7, 0x00A1, 0x00D1, 0x00BF, 0x00B0, 0x00F1, 0x00E7}},
    {"H7",
     "@[\\]^`{|}~",  // Swedish
     {0x00C9, 0x00C4, 0x00D6, 0x00C5, 0x00DC, 0x00E9, 0x00E4, 0x00F6, 0x00E5, 0x00FC}},
    {"=",
     "#@[\\]^_`{|}~",  // Swiss
     {0x00F9, 0x00E0, 0x00E9, 0x00E7, 0x00EA, 0x00EE, 0x00E8, 0x00F4, 0x00E4, 0x00F6, 0x00FC,
      0x00FB}},
};
constexpr size_t kCharsetCount = std::size(kCharsets);

using CharsetMap = std::array<uint32_t, 128>;

constexpr std::array<CharsetMap, kCharsetCount> build_charset_maps() {
  std::array<CharsetMap, kCharsetCount> maps{};
  for (size_t i = 0; i < kCharsetCount; ++i)
    for (size_t k = 0; k < kCharsets[i].from.size(); ++k)
      maps[i][static_cast<uint8_t>(kCharsets[i].from[k])] = kCharsets[i].to[k];
  return maps;
}

constexpr std::array<CharsetMap, kCharsetCount> kCharsetMaps = build_charset_maps();

// ---- Printing -------------------------------------------------------------

size_t count_code_points(std::string_view text) {
  size_t n = 0;
  for (char c : text)
    if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string_view utf8_of(uint32_t cp, char (&buf)[4]) {
  size_t n;
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | cp >> 6);
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | cp >> 12);
    buf[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | cp >> 18);
    buf[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  return std::string_view(buf, n);
}

// Attaches a combining character to the cell at col.
void attach_combining(Line& line, uint32_t col, uint32_t e, uint32_t width) {
  Cell c = cell_at(line, col);
  const uint32_t bits = width << kWidthShift;
  char mark_buf[4];
  std::string_view mark = utf8_of(e, mark_buf);
  if (c.has_text()) {
    std::optional<std::string_view> text = line.text.find(col);
    if (text) {
      if (count_code_points(*text) < kMaxCellCodePoints) line.text.append(col, mark);
      store_cell(line, col, Cell{kHasText | bits, c.fg, c.bg});
      return;
    }
    store_cell(line, col, Cell{e | bits, c.fg, c.bg});  // the text went missing: start again
    return;
  }
  const uint32_t cp = c.code_point();
  if (cp != 0) {
    char buf[8];
    char base_buf[4];
    std::string_view base = utf8_of(cp, base_buf);
    std::memcpy(buf, base.data(), base.size());
    std::memcpy(buf + base.size(), mark.data(), mark.size());
    store_cell(line, col, Cell{kHasText | bits, c.fg, c.bg});
    line.text.set(col, std::string_view(buf, base.size() + mark.size()));
    return;
  }
  store_cell(line, col, Cell{e | bits, c.fg, c.bg});
}

// The printing state of one run, held in locals while the run lasts.
struct Printer {
  Terminal& t;
  Buffer& b;
  Line* line;
  uint32_t x;
  uint32_t ps;
  const uint32_t* charset;
  const uint8_t* widths;
  const uint32_t fg;
  const uint32_t bg;
  bool direct = false;  // cells can be stored without the general path

  void fetched_line() { direct = !t.modes.insert && !t.pen.has_extras() && line->width == b.cols; }

  explicit Printer(Terminal& term)
      : t(term),
        b(term.active()),
        line(&screen_line(b, b.cursor_row)),
        x(b.cursor_col),
        ps(term.print_state),
        charset(charset_map(term.active_charset)),
        widths(bmp_width_table()),
        fg(term.pen.fg),
        bg(term.pen.bg) {
    // Inside a run the cursor stands past a printed last column, as with
    // auto-wrap on; only the stored cursor stays on that column.
    if ((ps & kPrintedLastColumn) && x + 1 == b.cols) x = b.cols;
    ps &= ~kPrintedLastColumn;
    fetched_line();
    if (x > 0 && cell_at(*line, x - 1).is_wide()) set_blank(*line, x - 1, t.pen);
  }

  void finish() {
    if (x < b.cols && x < line->cells.size() && line->cells[x].word0 == 0)
      set_blank(*line, x, t.pen);
    if (x >= b.cols && !t.modes.auto_wrap && ((ps >> 1) & 3) != 0) {
      // No pending wrap without auto-wrap: the cursor stays on the last
      // column, and the print state remembers it was printed.
      x = b.cols - 1;
      ps |= kPrintedLastColumn;
    }
    b.cursor_col = x;
    t.print_state = ps;
  }

  // Without auto-wrap the next character overwrites the last column. When
  // that column is a wide character's spacer, the character is blanked at
  // once, as a new run would do: the screen must not depend on where reads
  // end.
  void to_last_column() {
    x = b.cols - 1;
    if (x > 0 && cell_at(*line, x - 1).is_wide()) set_blank(*line, x - 1, t.pen);
  }

  // Auto-wrap: the rest of the row is blanked and the cursor goes to the
  // start of the next row, which continues this one.
  void wrap() {
    fill_blanks(*line, x, b.cols, t.pen);
    x = 0;
    if (b.cursor_row == b.region_bottom) {
      update_erase_pen(t);
      scroll_up(t, t.erase_pen, true);
      line = &screen_line(b, b.cursor_row);
    } else {
      if (b.cursor_row + 1 < b.rows) ++b.cursor_row;
      line = &screen_line(b, b.cursor_row);
      line->wrapped = true;
    }
    fetched_line();
  }

  // Printable ASCII with no charset, insert mode or pen extras in play:
  // prints the run at p and returns where it stopped.
  const uint8_t* ascii(const uint8_t* p, const uint8_t* end) {
    const uint32_t cols = b.cols;
    const uint32_t fg = t.pen.fg, bg = t.pen.bg;
    for (;;) {
      if (x >= cols) {
        if (!t.modes.auto_wrap) {
          // Each character lands on the last column; only the last stays.
          const uint8_t* q = p;
          while (q + 1 < end && is_printable_ascii(q[1])) ++q;
          to_last_column();
          set_cell_packed(*line, x, *q, 1, t.pen);
          ++x;
          p = q + 1;
          break;
        }
        wrap();
      }
      const uint8_t* limit = p + std::min<size_t>(static_cast<size_t>(end - p), cols - x);
      const uint8_t* q = p;
      if (line->width == cols) {
        CellRow& cells = line->cells;
        if (cells.capacity() < cols) cells.reserve(cols);
        if (cells.size() < x) cells.resize(x);
        Cell* out = cells.data() + x;
        const Cell* old_end = cells.end();
        bool side_data = !line->text.empty() || !line->attrs.empty();
        while (q < limit && is_printable_ascii(*q)) {
          *out++ = Cell{*q | 1u << kWidthShift, fg, bg};
          ++q;
        }
        uint32_t k = static_cast<uint32_t>(q - p);
        if (out > old_end) cells.grow_uninitialised(x + k);
        if (side_data) {
          line->text.erase_range(x, x + k);
          line->attrs.erase_range(x, x + k);
        }
      } else {
        while (q < limit && is_printable_ascii(*q)) {
          set_cell_packed(*line, x + static_cast<uint32_t>(q - p), *q, 1, t.pen);
          ++q;
        }
      }
      x += static_cast<uint32_t>(q - p);
      p = q;
      if (p == end || !is_printable_ascii(*p)) break;
    }
    ps = 1u << 1;
    return p;
  }

  // One code point: the common case (a narrow or wide character that fits
  // on the row, stored directly) inline, the rest in one_slow.
  void one(uint32_t e) {
    if (charset && e < 127 && charset[e] != 0) e = charset[e];
    const uint32_t w =
        e < 127 ? (e > 31 ? 1 : 0) : (e <= 0xFFFF ? widths[e] : supplementary_width(e));
    if (w == 0 || !direct || x + w > b.cols) return one_slow(e);
    CellRow& cells = line->cells;
    const size_t size = cells.size();
    if (x + w > size) {
      if (cells.capacity() < b.cols) cells.reserve(b.cols);
      if (size < x) cells.resize(x);
    }
    for (uint32_t c = x; c < x + w && c < size; ++c) {
      if (cells[c].has_text()) line->text.erase(c);
      if (cells[c].bg & kHasExtras) line->attrs.erase(c);
    }
    if (cells.size() < x + w) cells.grow_uninitialised(x + w);
    Cell* out = cells.data() + x;
    out[0] = Cell{e | w << kWidthShift, fg, bg};
    if (w == 2) out[1] = Cell{0, fg, bg};
    x += w;
    ps = w << 1;
  }

  [[gnu::noinline]] void one_slow(uint32_t e) {
    uint32_t w;
    if (e <= 31) {
      w = 0;  // reached only through REP of a cell's text
    } else if (e < 127) {
      w = 1;
    } else {
      w = e <= 0xFFFF ? widths[e] : supplementary_width(e);
    }
    if (w == 0) return combine(e);
    if (x + w > b.cols) {
      if (t.modes.auto_wrap) {
        wrap();
      } else {
        to_last_column();
        if (w == 2) {
          ps = w << 1;
          return;
        }
      }
    }
    if (t.modes.insert) insert_blank_cells(*line, x, w, t.pen);
    set_cell_packed(*line, x, e, w, t.pen);
    ++x;
    if (w == 2) {
      set_cell_packed(*line, x, 0, 0, t.pen);
      ++x;
    }
    ps = w << 1;
  }

  // A zero-width character joins the character before the cursor, also
  // after a control, and is dropped when no character stands there (the
  // start of a row, an empty cell): a cell of its own would take a column
  // that no redraw of the screen could give it back.
  void combine(uint32_t e) {
    if (x == 0) return;
    uint32_t base = x - 1;
    if (base > 0 && cell_at(*line, base).is_spacer()) base = x - 2;
    const Cell c = cell_at(*line, base);
    if (!c.has_content()) return;
    const uint32_t last = (ps >> 1) & 3;
    const uint32_t w = last != 0 ? last : c.width();
    attach_combining(*line, base, e, w);
    ps = w << 1 | 1;
  }
};

}  // namespace

int charset_for_final(uint32_t final_byte) {
  if (final_byte == 'B') return -1;
  for (size_t i = 0; i < kCharsetCount; ++i)
    if (kCharsets[i].finals.find(static_cast<char>(final_byte)) != std::string_view::npos)
      return static_cast<int>(i);
  return -2;
}

const uint32_t* charset_map(int index) {
  if (index < 0 || static_cast<size_t>(index) >= kCharsetCount) return nullptr;
  return kCharsetMaps[static_cast<size_t>(index)].data();
}

const uint8_t* print_run(Terminal& t, const uint8_t* p, const uint8_t* end) {
  Printer pr(t);
  const bool fast_ascii = pr.charset == nullptr && !t.modes.insert && !t.pen.has_extras();
  while (p < end) {
    uint8_t c = *p;
    if (c < 0x80) {
      if (!is_printable_ascii(c)) break;
      if (fast_ascii) {
        p = pr.ascii(p, end);
        continue;
      }
      pr.one(c);
      ++p;
      continue;
    }
    const uint8_t* q = p;
    uint32_t cp = decode_utf8(q, end);
    if (cp == kIncomplete) {
      cp = kReplacement;
      q = end;
    }
    if (is_c1(cp)) break;
    pr.one(cp);
    p = q;
  }
  pr.finish();
  return p;
}

void print_chars(Terminal& t, const uint32_t* cps, size_t n) {
  if (n == 0) return;
  Printer pr(t);
  for (size_t i = 0; i < n; ++i) pr.one(cps[i]);
  pr.finish();
}

void full_reset(Terminal& t) {
  Terminal fresh = terminal_new(t.cols, t.rows);
  fresh.title = std::move(t.title);
  fresh.icon_name = std::move(t.icon_name);
  fresh.presentation.safe_title = std::move(t.presentation.safe_title);
  fresh.presentation.cursor_hidden = t.presentation.cursor_hidden;
  fresh.modes.cursor_hidden = t.modes.cursor_hidden;
  fresh.modes.newline = t.modes.newline;
  fresh.modes.cursor_blink = t.modes.cursor_blink;
  fresh.hyperlinks = std::move(t.hyperlinks);
  fresh.hyperlink_order = std::move(t.hyperlink_order);
  fresh.link_counter = t.link_counter;
  fresh.replies = std::move(t.replies);
  fresh.parser = std::move(t.parser);
  t = std::move(fresh);
}

// ---- Controls and ESC sequences -----------------------------------------

namespace {

void set_shift(Terminal& t, uint8_t shift) {
  t.shift = shift;
  t.active_charset = t.charsets[shift];
}

void designate_set(Terminal& t, int slot, uint32_t final_byte) {
  int set = charset_for_final(final_byte);
  if (set == -2) return;
  t.charsets[static_cast<size_t>(slot)] = static_cast<int8_t>(set);
  if (t.shift == slot) t.active_charset = static_cast<int8_t>(set);
}

}  // namespace

void execute_control(Terminal& t, uint32_t code) {
  Buffer& b = t.active();
  switch (code) {
    case ctl::BS:
      backspace(t);
      break;
    case ctl::HT:
      if (b.cursor_col < b.cols) b.cursor_col = next_tab_stop(b);
      break;
    case ctl::LF:
    case ctl::VT:
    case ctl::FF:
      line_feed(t);
      break;
    case ctl::CR:
      b.cursor_col = 0;
      break;
    case ctl::SO:
      set_shift(t, 1);
      break;
    case ctl::SI:
      set_shift(t, 0);
      break;
    case ctl::IND:
      index_down(t);
      break;
    case ctl::NEL:
      b.cursor_col = 0;
      index_down(t);
      break;
    case ctl::HTS:
      set_tab_stop(b);
      break;
    default:
      break;
  }
}

void esc_dispatch(Terminal& t, uint32_t key) {
  switch (key) {
    case esc::DECSC:
      save_cursor(t);
      return;
    case esc::DECRC:
      restore_cursor(t);
      return;
    case esc::DECKPAM:
      t.modes.keypad_application = true;
      return;
    case esc::DECKPNM:
      t.modes.keypad_application = false;
      return;
    // The 7-bit forms of the C1 controls: ESC D is 0x84, and so on.
    case esc::IND:
    case esc::NEL:
    case esc::HTS:
      execute_control(t, key + 0x40);
      return;
    case esc::RI:
      reverse_index(t);
      return;
    case esc::RIS:
      full_reset(t);
      return;
    case esc::LS2:
    case esc::LS2R:
      set_shift(t, 2);
      return;
    case esc::LS3:
    case esc::LS3R:
      set_shift(t, 3);
      return;
    case esc::LS1R:
      set_shift(t, 1);
      return;
    case esc::DECALN:
      screen_alignment(t);
      return;
    case esc::DOCS_DEFAULT:
    case esc::DOCS_UTF8:
      t.shift = 0;
      t.charsets[0] = -1;
      t.active_charset = -1;
      return;
    default:
      break;
  }
  const uint32_t final_byte = key & 0xFF;
  switch (key >> 8) {
    case designate::G0:
      designate_set(t, 0, final_byte);
      break;
    case designate::G1:
    case designate::G1_96:
      designate_set(t, 1, final_byte);
      break;
    case designate::G2:
    case designate::G2_96:
      designate_set(t, 2, final_byte);
      break;
    case designate::G3:
      designate_set(t, 3, final_byte);
      break;
    default:
      break;
  }
}

}  // namespace mossbank::term
