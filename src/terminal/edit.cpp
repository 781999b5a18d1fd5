#include "terminal/edit.h"

#include <algorithm>

namespace mossbank::term {

namespace {

void erase_whole_row(Terminal& t, uint32_t row, bool selective) {
  Buffer& b = t.active();
  Line* line = buffer_get_line(b, b.screen_index(row));
  if (!line) return;
  erase_line_cells(*line, t.erase_pen, selective);
  line->wrapped = false;
}

bool in_region(const Buffer& b) {
  return b.cursor_row >= b.region_top && b.cursor_row <= b.region_bottom;
}

// Rows [top, bottom] of the screen lose k rows at one end and get k blank
// rows at the other.
void shift_rows(Terminal& t, uint32_t top, uint32_t bottom, uint32_t k, bool up, const Pen& pen) {
  Buffer& b = t.active();
  if (top > bottom || bottom >= b.rows) return;
  const size_t from = b.screen_index(top), to = b.screen_index(bottom);
  line_for_write(b, to);
  k = std::min(k, bottom - top + 1);
  if (up) {
    b.lines.shift_up(from, to, k);
    for (size_t i = to + 1 - k; i <= to; ++i)
      b.lines.store(i, b.lines.make_line(b.cols, pen, false));
  } else {
    b.lines.shift_down(from, to, k);
    for (size_t i = from; i < from + k; ++i)
      b.lines.store(i, b.lines.make_line(b.cols, pen, false));
  }
}

// IL and DL: the rows from the cursor to the region's bottom, only when the
// cursor is inside the region.
void shift_rows_from_cursor(Terminal& t, uint32_t n, bool up) {
  update_erase_pen(t);
  clamp_cursor(t, false);
  Buffer& b = t.active();
  if (!in_region(b)) return;
  shift_rows(t, b.cursor_row, b.region_bottom, std::min(n, b.rows), up, t.erase_pen);
  b.cursor_col = 0;
}

// SL, SR, DECIC and DECDC: columns of every row of the region.
void shift_columns(Terminal& t, uint32_t col, uint32_t n, bool insert) {
  update_erase_pen(t);
  Buffer& b = t.active();
  if (!in_region(b)) return;
  for (uint32_t r = b.region_top; r <= b.region_bottom && r < b.rows; ++r) {
    Line& line = screen_line(b, r);
    if (insert) {
      insert_blank_cells(line, col, n, t.erase_pen);
    } else {
      delete_cells(line, col, n, t.erase_pen);
    }
    line.wrapped = false;
  }
}

}  // namespace

// ---- Cursor -------------------------------------------------------------------

void clamp_cursor(Terminal& t, bool allow_pending) {
  Buffer& b = t.active();
  b.cursor_col = std::min(b.cursor_col, allow_pending ? b.cols : b.cols - 1);
  if (t.modes.origin) {
    b.cursor_row =
        std::min(std::max(b.cursor_row, b.region_top), std::max(b.region_top, b.region_bottom));
  } else {
    b.cursor_row = std::min(b.cursor_row, b.rows - 1);
  }
}

// Positions are computed in 64 bits so that no parameter can overflow them.
void set_cursor_position(Terminal& t, int64_t col, int64_t row) {
  Buffer& b = t.active();
  b.cursor_col = static_cast<uint32_t>(std::clamp<int64_t>(col, 0, b.cols));
  b.cursor_row = static_cast<uint32_t>(std::clamp<int64_t>(row, 0, b.rows));
  clamp_cursor(t, false);
}

void cursor_up(Terminal& t, uint32_t n) {
  clamp_cursor(t, false);
  Buffer& b = t.active();
  int64_t row = int64_t{b.cursor_row} - n;
  if (b.cursor_row >= b.region_top) row = std::max<int64_t>(row, b.region_top);
  set_cursor_position(t, b.cursor_col, row);
}

void cursor_down(Terminal& t, uint32_t n) {
  clamp_cursor(t, false);
  Buffer& b = t.active();
  int64_t row = int64_t{b.cursor_row} + n;
  if (b.cursor_row <= b.region_bottom) row = std::min<int64_t>(row, b.region_bottom);
  set_cursor_position(t, b.cursor_col, row);
}

void cursor_right(Terminal& t, int64_t n) {
  clamp_cursor(t, false);
  Buffer& b = t.active();
  set_cursor_position(t, int64_t{b.cursor_col} + n, b.cursor_row);
}

void save_cursor(Terminal& t) {
  Buffer& b = t.active();
  b.saved.row = int64_t{b.cursor_row} + b.scroll_back;
  b.saved.col = b.cursor_col;
  b.saved.fg = t.pen.fg;
  b.saved.bg = t.pen.bg;
  b.saved.charset = t.active_charset;
}

void restore_cursor(Terminal& t) {
  Buffer& b = t.active();
  b.cursor_col = b.saved.col;
  int64_t row = b.saved.row - int64_t{b.scroll_back};
  b.cursor_row = row < 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(row, UINT32_MAX));
  t.pen.fg = b.saved.fg;
  t.pen.bg = b.saved.bg;
  t.active_charset = static_cast<int8_t>(b.saved.charset);
  clamp_cursor(t, false);
}

// ---- Erasing ------------------------------------------------------------------

void update_erase_pen(Terminal& t) { t.erase_pen = Pen{0, 0, 0, t.pen.bg & kColourMask}; }

void erase_in_display(Terminal& t, int32_t mode, bool selective) {
  update_erase_pen(t);
  clamp_cursor(t, true);
  Buffer& b = t.active();
  const uint32_t row = b.cursor_row, col = b.cursor_col;
  switch (mode) {
    case 0: {
      Line& line = screen_line(b, row);
      fill_cells(line, col, b.cols, t.erase_pen, selective);
      if (col == 0) line.wrapped = false;
      for (uint32_t r = row + 1; r < b.rows; ++r) erase_whole_row(t, r, selective);
      break;
    }
    case 1: {
      Line& line = screen_line(b, row);
      fill_cells(line, 0, col + 1, t.erase_pen, selective);
      line.wrapped = false;
      if (col + 1 >= b.cols && row + 1 < b.rows)
        if (Line* next = buffer_get_line(b, b.screen_index(row + 1))) next->wrapped = false;
      for (uint32_t r = 0; r < row; ++r) erase_whole_row(t, r, selective);
      break;
    }
    case 2:
      for (uint32_t r = 0; r < b.rows; ++r) erase_whole_row(t, r, selective);
      break;
    case 3:
      if (b.lines.count() > b.rows && b.scroll_back > 0) {
        const uint32_t dropped = b.scroll_back;
        b.lines.drop_oldest(dropped);
        b.scroll_back = 0;
        // The saved cursor stays on the row it was saved on.
        b.saved.row = std::max<int64_t>(0, b.saved.row - dropped);
      }
      break;
    default:
      break;
  }
}

void erase_in_line(Terminal& t, int32_t mode, bool selective) {
  update_erase_pen(t);
  clamp_cursor(t, true);
  Buffer& b = t.active();
  Line& line = screen_line(b, b.cursor_row);
  const uint32_t col = b.cursor_col;
  switch (mode) {
    case 0:
      fill_cells(line, col, b.cols, t.erase_pen, selective);
      if (col == 0) line.wrapped = false;
      break;
    case 1:
      fill_cells(line, 0, col + 1, t.erase_pen, selective);
      break;
    case 2:
      erase_line_cells(line, t.erase_pen, selective);
      line.wrapped = false;
      break;
    default:
      break;
  }
}

void erase_characters(Terminal& t, uint32_t n) {
  update_erase_pen(t);
  clamp_cursor(t, false);
  Buffer& b = t.active();
  Line* line = buffer_get_line(b, b.screen_index(b.cursor_row));
  if (!line) return;
  uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{b.cursor_col} + n, b.cols));
  fill_cells(*line, b.cursor_col, end, t.erase_pen, false);
}

// ---- Characters, lines and columns --------------------------------------------

void insert_characters(Terminal& t, uint32_t n) {
  update_erase_pen(t);
  clamp_cursor(t, false);
  Buffer& b = t.active();
  insert_blank_cells(screen_line(b, b.cursor_row), b.cursor_col, n, t.erase_pen);
}

void delete_characters(Terminal& t, uint32_t n) {
  update_erase_pen(t);
  clamp_cursor(t, false);
  Buffer& b = t.active();
  delete_cells(screen_line(b, b.cursor_row), b.cursor_col, n, t.erase_pen);
}

void insert_lines(Terminal& t, uint32_t n) { shift_rows_from_cursor(t, n, false); }

void delete_lines(Terminal& t, uint32_t n) { shift_rows_from_cursor(t, n, true); }

void scroll_left(Terminal& t, uint32_t n) { shift_columns(t, 0, n, false); }

void scroll_right(Terminal& t, uint32_t n) { shift_columns(t, 0, n, true); }

void insert_columns(Terminal& t, uint32_t n) {
  clamp_cursor(t, false);
  shift_columns(t, t.active().cursor_col, n, true);
}

void delete_columns(Terminal& t, uint32_t n) {
  clamp_cursor(t, false);
  shift_columns(t, t.active().cursor_col, n, false);
}

// ---- Scrolling, index and line feed -------------------------------------------

void scroll_region_up(Terminal& t, uint32_t n) {
  update_erase_pen(t);
  Buffer& b = t.active();
  shift_rows(t, b.region_top, b.region_bottom, std::min(n, b.rows), true, t.erase_pen);
}

void scroll_region_down(Terminal& t, uint32_t n) {
  Buffer& b = t.active();
  shift_rows(t, b.region_top, b.region_bottom, std::min(n, b.rows), false, Pen{});
}

void scroll_up(Terminal& t, const Pen& pen, bool wrapped) {
  Buffer& b = t.active();
  LineStore& store = b.lines;
  std::unique_ptr<Line> blank = store.make_line(b.cols, pen, wrapped);
  Line* fresh = blank.get();
  const size_t top = b.screen_index(b.region_top);
  const size_t bottom = b.screen_index(b.region_bottom);
  line_for_write(b, bottom);
  if (b.region_top > 0) {
    line_for_write(b, top);
    store.rotate_up(top, bottom);
    store.store(bottom, std::move(blank));
    return;
  }
  if (bottom + 1 < store.count()) {
    bool was_full = store.full();
    store.insert(bottom + 1, std::move(blank));
    if (!was_full) ++b.scroll_back;
  } else if (!store.full()) {
    store.push(std::move(blank));
    ++b.scroll_back;
  } else {
    store.push(std::move(blank));  // the oldest line falls out
  }
  if (b.scroll_back > 0)
    if (Line* scrolled = store.get(b.scroll_back - 1)) store.fit_scrolled(*scrolled, *fresh);
}

void index_down(Terminal& t) {
  clamp_cursor(t, false);
  update_erase_pen(t);
  Buffer& b = t.active();
  if (b.cursor_row == b.region_bottom) {
    scroll_up(t, t.erase_pen, false);
  } else if (b.cursor_row + 1 < b.rows) {
    ++b.cursor_row;
  }
  clamp_cursor(t, false);
}

void reverse_index(Terminal& t) {
  clamp_cursor(t, false);
  update_erase_pen(t);
  Buffer& b = t.active();
  if (b.cursor_row != b.region_top) {
    if (b.cursor_row > 0) --b.cursor_row;
    clamp_cursor(t, false);
    return;
  }
  const size_t top = b.screen_index(b.region_top);
  const size_t bottom = b.screen_index(std::max(b.region_top, b.region_bottom));
  line_for_write(b, bottom);
  line_for_write(b, top);
  b.lines.rotate_down(top, bottom);
  b.lines.store(top, b.lines.make_line(b.cols, t.erase_pen, false));
}

void backspace(Terminal& t) {
  Buffer& b = t.active();
  if (!t.modes.reverse_wrap) {
    clamp_cursor(t, false);
    if (b.cursor_col > 0) --b.cursor_col;
    return;
  }
  clamp_cursor(t, true);
  if (b.cursor_col > 0) {
    --b.cursor_col;
  } else if (b.cursor_row > b.region_top && b.cursor_row <= b.region_bottom) {
    Line* line = buffer_get_line(b, b.screen_index(b.cursor_row));
    if (line && line->wrapped) {
      line->wrapped = false;
      --b.cursor_row;
      b.cursor_col = b.cols - 1;
      const Line& above = line_or_empty(b, b.screen_index(b.cursor_row));
      Cell c = cell_at(above, b.cursor_col);
      if (!c.has_content() && c.width() != 0 && b.cursor_col > 0) --b.cursor_col;
    }
  }
  clamp_cursor(t, false);
}

void line_feed(Terminal& t) {
  update_erase_pen(t);
  Buffer& b = t.active();
  if (t.modes.newline) b.cursor_col = 0;
  if (b.cursor_row == b.region_bottom) {
    scroll_up(t, t.erase_pen, false);
  } else if (b.cursor_row + 1 < b.rows) {
    ++b.cursor_row;
    if (Line* line = buffer_get_line(b, b.screen_index(b.cursor_row))) line->wrapped = false;
  }
  if (b.cursor_col >= b.cols) b.cursor_col = b.cols - 1;
}

void screen_alignment(Terminal& t) {
  Buffer& b = t.active();
  uint32_t home = t.modes.origin ? b.region_top : 0;
  for (uint32_t r = home; r < home + b.rows; ++r) {
    Line* line = buffer_get_line(b, b.screen_index(r));
    if (!line) continue;
    line->text.clear();
    line->attrs.clear();
    line->wrapped = false;
    line->cells.assign(line->width, Cell{'E' | 1u << kWidthShift, t.pen.fg, t.pen.bg});
  }
  b.cursor_col = 0;
  b.cursor_row = home;
  clamp_cursor(t, false);
}

}  // namespace mossbank::term
