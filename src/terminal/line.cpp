#include "terminal/line.h"

namespace mossbank::term {

namespace {

// Keeps the invariant that trailing default blanks are not stored.
void trim(Line& line) {
  while (!line.cells.empty() && line.cells.back().is_default_blank()) line.cells.pop_back();
}

// Makes at least n cells stored, raising the capacity to the full width once
// so that a row being written never reallocates again.
void grow(Line& line, uint32_t n) {
  if (line.cells.size() >= n) return;
  if (line.cells.capacity() < line.width) line.cells.reserve(line.width);
  line.cells.resize(n, kBlankCell);
}

// Side data of a cell being replaced: entries exist only for cells whose
// bits say so, and they go when the new cell does not keep the bit, so the
// maps never outgrow the row.
void drop_stale(Line& line, uint32_t col, Cell old, Cell cell) {
  if (old.has_text() && !cell.has_text()) line.text.erase(col);
  if ((old.bg & kHasExtras) && (cell.bg & kHasExtras) == 0) line.attrs.erase(col);
}

Cell blank_cell(const Pen& pen) { return Cell{1u << kWidthShift, pen.fg, pen.bg}; }

// Writes blanks in `pen` over [from, to), to <= width.
void fill_range(Line& line, uint32_t from, uint32_t to, const Pen& pen) {
  if (from >= to) return;
  line.text.erase_range(from, to);
  line.attrs.erase_range(from, to);
  Cell blank = blank_cell(pen);
  if (blank.is_default_blank()) {
    size_t size = line.cells.size();
    if (to >= size) {
      if (from < size) line.cells.resize(from);
      trim(line);
    } else {
      std::fill(line.cells.begin() + from, line.cells.begin() + to, blank);
    }
    return;
  }
  grow(line, to);
  std::fill(line.cells.begin() + from, line.cells.begin() + to, blank);
  if (pen.has_extras())
    for (uint32_t c = from; c < to; ++c) line.attrs.set(c, Extras{pen.underline, pen.link});
}

}  // namespace

std::vector<TextMap::Entry>::iterator TextMap::lower(uint32_t col) {
  return std::lower_bound(entries_.begin(), entries_.end(), col,
                          [](const Entry& e, uint32_t c) { return e.col < c; });
}

std::vector<TextMap::Entry>::const_iterator TextMap::lower(uint32_t col) const {
  return std::lower_bound(entries_.begin(), entries_.end(), col,
                          [](const Entry& e, uint32_t c) { return e.col < c; });
}

std::optional<std::string_view> TextMap::find(uint32_t col) const {
  if (!entries_.empty() && entries_.back().col == col) {
    const Entry& e = entries_.back();
    return std::string_view(bytes_).substr(e.offset, e.length);
  }
  auto it = lower(col);
  if (it == entries_.end() || it->col != col) return std::nullopt;
  return std::string_view(bytes_).substr(it->offset, it->length);
}

void TextMap::set(uint32_t col, std::string_view text) {
  if (entries_.capacity() == 0) {
    // Room for a row's worth of marks at once; a recycled line keeps it.
    entries_.reserve(16);
    bytes_.reserve(128);
  }
  compact_if_sparse();
  Entry e{col, static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(text.size())};
  bytes_.append(text);
  live_ += text.size();
  if (entries_.empty() || entries_.back().col < col) {
    entries_.push_back(e);
    return;
  }
  auto it = lower(col);
  if (it != entries_.end() && it->col == col) {
    live_ -= it->length;
    *it = e;
    return;
  }
  entries_.insert(it, e);
}

bool TextMap::append(uint32_t col, std::string_view more) {
  auto it = !entries_.empty() && entries_.back().col == col ? entries_.end() - 1 : lower(col);
  if (it == entries_.end() || it->col != col) return false;
  if (size_t{it->offset} + it->length != bytes_.size()) {
    // Move the text to the end of the arena so that it can grow in place.
    compact_if_sparse();
    it = lower(col);
    std::string_view old = std::string_view(bytes_).substr(it->offset, it->length);
    std::string copy(old);
    it->offset = static_cast<uint32_t>(bytes_.size());
    bytes_.append(copy);
  }
  bytes_.append(more);
  it->length += static_cast<uint32_t>(more.size());
  live_ += more.size();
  return true;
}

void TextMap::erase(uint32_t col) {
  auto it = lower(col);
  if (it == entries_.end() || it->col != col) return;
  live_ -= it->length;
  entries_.erase(it);
  if (entries_.empty()) clear();
}

void TextMap::erase_range(uint32_t from, uint32_t to) {
  if (entries_.empty() || from >= to || entries_.back().col < from) return;
  auto a = lower(from);
  auto b =
      std::lower_bound(a, entries_.end(), to, [](const Entry& e, uint32_t c) { return e.col < c; });
  for (auto it = a; it != b; ++it) live_ -= it->length;
  entries_.erase(a, b);
  if (entries_.empty()) clear();
}

void TextMap::shift_range(uint32_t from, uint32_t to, int64_t delta) {
  for (Entry& e : entries_)
    if (e.col >= from && e.col < to) e.col = static_cast<uint32_t>(e.col + delta);
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.col < b.col; });
}

void TextMap::compact_if_sparse() {
  if (bytes_.size() < 1024 || bytes_.size() < 2 * live_) return;
  std::string packed;
  packed.reserve(live_);
  for (Entry& e : entries_) {
    uint32_t offset = static_cast<uint32_t>(packed.size());
    packed.append(bytes_, e.offset, e.length);
    e.offset = offset;
  }
  bytes_.swap(packed);
}

void fill_blanks(Line& line, uint32_t from, uint32_t to, const Pen& pen) {
  fill_range(line, from, std::min(to, line.width), pen);
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void line_reset(Line& line, uint32_t width, const Pen& pen, bool wrapped) {
  line.width = width;
  line.cells.clear();
  line.text.clear();
  line.attrs.clear();
  line.wrapped = wrapped;
  if (pen != Pen{}) fill_range(line, 0, width, pen);
}

Line blank_line(uint32_t width, const Pen& pen, bool wrapped) {
  Line line;
  line_reset(line, width, pen, wrapped);
  return line;
}

StyledCell styled_cell_at(const Line& line, uint32_t col) {
  StyledCell s;
  if (col >= line.cells.size()) {
    s.word0 = col < line.width ? 1u << kWidthShift : 0;
    return s;
  }
  Cell c = line.cells[col];
  s.word0 = c.word0;
  s.fg = c.fg;
  s.bg = c.bg;
  if (c.has_text())
    if (auto t = line.text.find(col)) s.text = *t;
  if (c.bg & kHasExtras)
    if (const Extras* e = line.attrs.find(col)) {
      s.underline = e->underline;
      s.link = e->link;
    }
  return s;
}

void store_cell(Line& line, uint32_t col, Cell cell) {
  if (col >= line.width) return;
  size_t size = line.cells.size();
  if (col < size) {
    drop_stale(line, col, line.cells[col], cell);
    line.cells[col] = cell;
    if (col + 1 == size) trim(line);
    return;
  }
  if (cell.is_default_blank()) return;
  grow(line, col);
  line.cells.push_back(cell);
}

void set_cell_packed(Line& line, uint32_t col, uint32_t cp, uint32_t width, const Pen& pen) {
  if (col >= line.width) return;
  store_cell(line, col, Cell{cp | width << kWidthShift, pen.fg, pen.bg});
  if (pen.has_extras()) line.attrs.set(col, Extras{pen.underline, pen.link});
}

void set_blank(Line& line, uint32_t col, const Pen& pen) { set_cell_packed(line, col, 0, 1, pen); }

void set_styled_cell(Line& line, uint32_t col, const StyledCell& s) {
  if (col >= line.width) return;
  Cell cell = s.cell();
  store_cell(line, col, cell);
  if (cell.has_text() && !s.text.empty()) line.text.set(col, s.text);
  if (cell.bg & kHasExtras) line.attrs.set(col, Extras{s.underline, s.link});
}

void insert_blank_cells(Line& line, uint32_t col, uint32_t n, const Pen& pen) {
  uint32_t w = line.width;
  if (w == 0) return;
  col %= w;
  if (col > 0 && cell_at(line, col - 1).is_wide()) set_blank(line, col - 1, pen);
  if (n < w - col) {
    if (col < line.cells.size()) {
      grow(line, w);
      std::copy_backward(line.cells.begin() + col, line.cells.begin() + (w - n),
                         line.cells.begin() + w);
      line.text.erase_range(w - n, w);
      line.attrs.erase_range(w - n, w);
      line.text.shift_range(col, w - n, n);
      line.attrs.shift_range(col, w - n, n);
    }
    fill_range(line, col, col + n, pen);
    // A spacer pushed right lost its first half to the blanks before it.
    if (col + n < line.cells.size() && line.cells[col + n].word0 == 0)
      set_blank(line, col + n, pen);
  } else {
    fill_range(line, col, w, pen);
  }
  if (cell_at(line, w - 1).is_wide()) set_blank(line, w - 1, pen);
  trim(line);
}

void delete_cells(Line& line, uint32_t col, uint32_t n, const Pen& pen) {
  uint32_t w = line.width;
  if (w == 0) return;
  col %= w;
  if (n < w - col) {
    if (col < line.cells.size()) {
      grow(line, w);
      std::copy(line.cells.begin() + (col + n), line.cells.begin() + w, line.cells.begin() + col);
      line.text.erase_range(col, col + n);
      line.attrs.erase_range(col, col + n);
      line.text.shift_range(col + n, w, -static_cast<int64_t>(n));
      line.attrs.shift_range(col + n, w, -static_cast<int64_t>(n));
    }
    fill_range(line, w - n, w, pen);
  } else {
    fill_range(line, col, w, pen);
  }
  if (col > 0 && cell_at(line, col - 1).is_wide()) set_blank(line, col - 1, pen);
  if (col < line.cells.size() && line.cells[col].word0 == 0) set_blank(line, col, pen);
  trim(line);
}

void fill_cells(Line& line, uint32_t from, uint32_t to, const Pen& pen, bool selective) {
  uint32_t w = line.width;
  auto writable = [&](uint32_t c) { return !selective || (cell_at(line, c).bg & kProtected) == 0; };
  if (from > 0 && from - 1 < w && cell_at(line, from - 1).is_wide() && writable(from - 1))
    set_blank(line, from - 1, pen);
  if (to < w && to > 0 && cell_at(line, to - 1).is_wide() && writable(to)) set_blank(line, to, pen);
  uint32_t end = std::min(to, w);
  if (!selective) {
    fill_range(line, from, end, pen);
    return;
  }
  for (uint32_t c = from; c < end; ++c)
    if (writable(c)) set_blank(line, c, pen);
}

void erase_line_cells(Line& line, const Pen& pen, bool selective) {
  if (selective) {
    for (uint32_t c = 0; c < line.width; ++c)
      if ((cell_at(line, c).bg & kProtected) == 0) set_blank(line, c, pen);
    return;
  }
  line.text.clear();
  line.attrs.clear();
  line.cells.clear();
  fill_range(line, 0, line.width, pen);
}

void set_line_width(Line& line, uint32_t width, const Pen& pen) {
  uint32_t old = line.width;
  if (width == old) return;
  line.width = width;
  if (width > old) {
    fill_range(line, old, width, pen);
    return;
  }
  if (line.cells.size() > width) line.cells.resize(width);
  line.text.erase_range(width, UINT32_MAX);
  line.attrs.erase_range(width, UINT32_MAX);
  // A wide character whose spacer fell off the new edge goes with it.
  if (width > 0 && cell_at(line, width - 1).is_wide()) set_blank(line, width - 1, pen);
  trim(line);
}

void copy_cells(const Line& src, uint32_t src_col, Line& dst, uint32_t dst_col, uint32_t n) {
  if (&src == &dst && dst_col > src_col) {
    for (uint32_t i = n; i-- > 0;)
      set_styled_cell(dst, dst_col + i, styled_cell_at(src, src_col + i));
  } else {
    for (uint32_t i = 0; i < n; ++i)
      set_styled_cell(dst, dst_col + i, styled_cell_at(src, src_col + i));
  }
}

uint32_t content_end(const Line& line) {
  size_t n = std::min<size_t>(line.width, line.cells.size());
  for (size_t c = n; c-- > 0;) {
    Cell cell = line.cells[c];
    if (cell.has_content())
      return std::min<uint32_t>(line.width, static_cast<uint32_t>(c) + cell.width());
  }
  return 0;
}

bool append_cell_text(const Line& line, uint32_t col, Cell cell, std::string& out) {
  if (cell.has_text()) {
    if (auto t = line.text.find(col)) out += *t;
    return true;
  }
  uint32_t cp = cell.code_point();
  if (cp == 0) return false;
  append_utf8(out, cp);
  return true;
}

}  // namespace mossbank::term
