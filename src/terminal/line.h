// One row of cells. A line stores cells only up to its last non-default
// cell; combining text and the (underline word, link id) pair live in small
// column-sorted maps beside the cells so that ordinary cells stay 12 bytes.
// Blanks made by an edit are code point 0, width 1, in the given pen.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "terminal/cell.h"

namespace mossbank::term {

// A column-sorted map kept as a flat vector: lines hold few entries, usually
// appended left to right, and a recycled line keeps its capacity.
template <class V>
class ColumnMap {
 public:
  using Entry = std::pair<uint32_t, V>;

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  void clear() { entries_.clear(); }
  const std::vector<Entry>& entries() const { return entries_; }

  const V* find(uint32_t col) const {
    auto it = lower(col);
    return it != entries_.end() && it->first == col ? &it->second : nullptr;
  }
  V* find(uint32_t col) {
    auto it = lower(col);
    return it != entries_.end() && it->first == col ? &it->second : nullptr;
  }
  V& set(uint32_t col, V value) {
    if (entries_.empty() || entries_.back().first < col) {
      entries_.emplace_back(col, std::move(value));
      return entries_.back().second;
    }
    auto it = lower(col);
    if (it != entries_.end() && it->first == col) {
      it->second = std::move(value);
      return it->second;
    }
    return entries_.emplace(it, col, std::move(value))->second;
  }
  void erase(uint32_t col) {
    if (entries_.empty()) return;
    auto it = lower(col);
    if (it != entries_.end() && it->first == col) entries_.erase(it);
  }
  // Removes the entries at columns [from, to).
  void erase_range(uint32_t from, uint32_t to) {
    if (entries_.empty() || from >= to || entries_.back().first < from) return;
    auto a = lower(from);
    auto b = std::lower_bound(a, entries_.end(), to,
                              [](const Entry& e, uint32_t c) { return e.first < c; });
    entries_.erase(a, b);
  }
  // Moves the entries at columns [from, to) by delta (the target range must
  // hold no entries of its own outside [from, to)).
  void shift_range(uint32_t from, uint32_t to, int64_t delta) {
    for (auto& e : entries_)
      if (e.first >= from && e.first < to) e.first = static_cast<uint32_t>(e.first + delta);
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.first < b.first; });
  }

 private:
  typename std::vector<Entry>::iterator lower(uint32_t col) {
    return std::lower_bound(entries_.begin(), entries_.end(), col,
                            [](const Entry& e, uint32_t c) { return e.first < c; });
  }
  typename std::vector<Entry>::const_iterator lower(uint32_t col) const {
    return std::lower_bound(entries_.begin(), entries_.end(), col,
                            [](const Entry& e, uint32_t c) { return e.first < c; });
  }
  std::vector<Entry> entries_;
};

// The stored cells of a line: a plain array of 12-byte cells. Unlike
// std::vector it can grow without initialising what the caller is about to
// write, which keeps printing to one store per cell.
class CellRow {
 public:
  CellRow() = default;
  CellRow(const CellRow& other) { assign(other.begin(), other.end()); }
  CellRow& operator=(const CellRow& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  CellRow(CellRow&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  CellRow& operator=(CellRow&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~CellRow() { release(); }

  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  Cell* data() { return data_; }
  const Cell* data() const { return data_; }
  Cell* begin() { return data_; }
  Cell* end() { return data_ + size_; }
  const Cell* begin() const { return data_; }
  const Cell* end() const { return data_ + size_; }
  Cell& operator[](size_t i) { return data_[i]; }
  const Cell& operator[](size_t i) const { return data_[i]; }
  Cell& back() { return data_[size_ - 1]; }
  const Cell& back() const { return data_[size_ - 1]; }

  void clear() { size_ = 0; }
  void pop_back() { --size_; }
  void push_back(Cell c) {
    if (size_ == capacity_) reserve(capacity_ ? capacity_ * 2 : 8);
    data_[size_++] = c;
  }
  // Exactly n cells of room (the fitted scroll-back storage relies on it).
  void reserve(size_t n) {
    if (n <= capacity_) return;
    Cell* fresh = static_cast<Cell*>(::operator new(n * sizeof(Cell)));
    if (size_) std::memcpy(fresh, data_, size_ * sizeof(Cell));
    release();
    data_ = fresh;
    capacity_ = static_cast<uint32_t>(n);
  }
  void resize(size_t n, Cell fill = kBlankCell) {
    if (n > size_) {
      reserve(n);
      std::fill(data_ + size_, data_ + n, fill);
    }
    size_ = static_cast<uint32_t>(n);
  }
  // Grows to n cells whose new part the caller writes at once (n <= capacity).
  void grow_uninitialised(size_t n) { size_ = static_cast<uint32_t>(n); }
  void assign(const Cell* first, const Cell* last) {
    size_t n = static_cast<size_t>(last - first);
    size_ = 0;
    reserve(n);
    if (n) std::memmove(data_, first, n * sizeof(Cell));
    size_ = static_cast<uint32_t>(n);
  }
  void assign(size_t n, Cell fill) {
    size_ = 0;
    resize(n, fill);
  }
  void swap(CellRow& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

 private:
  void release() {
    ::operator delete(data_);
    data_ = nullptr;
    capacity_ = 0;
  }
  Cell* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

inline void swap(CellRow& a, CellRow& b) noexcept { a.swap(b); }

// Combining text per column, kept in one byte arena per line so that
// clearing a line costs nothing and short texts need no allocation each.
class TextMap {
 public:
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  size_t arena_bytes() const { return bytes_.size(); }
  void clear() {
    entries_.clear();
    bytes_.clear();
    live_ = 0;
  }
  std::optional<std::string_view> find(uint32_t col) const;
  void set(uint32_t col, std::string_view text);
  // Appends to the text at col; false when there is none.
  bool append(uint32_t col, std::string_view more);
  void erase(uint32_t col);
  void erase_range(uint32_t from, uint32_t to);
  void shift_range(uint32_t from, uint32_t to, int64_t delta);
  template <class F>
  void for_each(F&& f) const {
    for (const Entry& e : entries_) f(e.col, std::string_view(bytes_).substr(e.offset, e.length));
  }

 private:
  struct Entry {
    uint32_t col;
    uint32_t offset;
    uint32_t length;
  };
  std::vector<Entry>::iterator lower(uint32_t col);
  std::vector<Entry>::const_iterator lower(uint32_t col) const;
  // Rewrites the arena without the bytes of erased texts once they dominate.
  void compact_if_sparse();
  std::vector<Entry> entries_;
  std::string bytes_;
  size_t live_ = 0;
};

struct Extras {
  uint32_t underline = 0;
  uint32_t link = 0;
};

struct Line {
  CellRow cells;
  uint32_t width = 0;
  TextMap text;
  ColumnMap<Extras> attrs;
  bool wrapped = false;
};

// Combining text kept per cell is capped so a stream of marks cannot grow
// one cell without bound.
inline constexpr size_t kMaxCellCodePoints = 32;

// Makes `line` a blank line of `width` in `pen`, keeping its storage.
void line_reset(Line& line, uint32_t width, const Pen& pen, bool wrapped);
Line blank_line(uint32_t width, const Pen& pen, bool wrapped);

inline Cell cell_at(const Line& line, uint32_t col) {
  return col < line.cells.size() ? line.cells[col] : kBlankCell;
}
StyledCell styled_cell_at(const Line& line, uint32_t col);

// Stores word 0 and the colour words at `col`; side data is the caller's.
void store_cell(Line& line, uint32_t col, Cell cell);
void set_cell_packed(Line& line, uint32_t col, uint32_t cp, uint32_t width, const Pen& pen);
void set_styled_cell(Line& line, uint32_t col, const StyledCell& cell);
// A blank (code point 0, width 1) in `pen`.
void set_blank(Line& line, uint32_t col, const Pen& pen);

void insert_blank_cells(Line& line, uint32_t col, uint32_t n, const Pen& pen);
void delete_cells(Line& line, uint32_t col, uint32_t n, const Pen& pen);
void fill_cells(Line& line, uint32_t from, uint32_t to, const Pen& pen, bool selective);
// Blanks in `pen` over [from, to) without repairing wide characters.
void fill_blanks(Line& line, uint32_t from, uint32_t to, const Pen& pen);
void erase_line_cells(Line& line, const Pen& pen, bool selective);
void set_line_width(Line& line, uint32_t width, const Pen& pen);
// Copies n cells with their side data from src[src_col..] to dst[dst_col..];
// copying backwards lets the ranges overlap inside one line.
void copy_cells(const Line& src, uint32_t src_col, Line& dst, uint32_t dst_col, uint32_t n);

// Column after the last cell that shows something (code point or text),
// plus that cell's width, at most the line width; 0 for an empty row.
uint32_t content_end(const Line& line);

// Appends the text a cell shows: its extra text, else its code point, else
// nothing. Returns false for a blank.
bool append_cell_text(const Line& line, uint32_t col, Cell cell, std::string& out);

void append_utf8(std::string& out, uint32_t cp);

}  // namespace mossbank::term
