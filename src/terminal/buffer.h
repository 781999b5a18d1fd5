// The line store (a ring of line slots with scroll-back) and the buffers
// built on it. Logical row 0 is the oldest stored line; screen row r of a
// buffer is logical row scroll_back + r. Lines are owned by one slot each;
// lines that leave the store go to a small pool and come back as blanks, so
// steady scrolling allocates nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "terminal/cell.h"
#include "terminal/line.h"

namespace mossbank::term {

inline constexpr uint32_t kScrollBackLimit = 5000;
// The default tab stops are this many columns apart.
inline constexpr uint32_t kTabWidth = 8;

class LineStore {
 public:
  explicit LineStore(size_t capacity = 0);

  size_t count() const { return count_; }
  size_t capacity() const { return capacity_; }
  bool full() const { return count_ == capacity_; }

  // The line at logical row i, or null for an empty slot.
  Line* get(size_t i) { return slots_[slot(i)].get(); }
  const Line* get(size_t i) const { return slots_[slot(i)].get(); }

  // A line from the pool (or new), reset to a blank of width in pen.
  std::unique_ptr<Line> make_line(uint32_t width, const Pen& pen, bool wrapped);
  // Returns a line to the pool.
  void recycle(std::unique_ptr<Line> line);
  // Fits the cell storage of a line that just went into scroll-back to its
  // length. Its wide storage goes to `fresh` (a blank that will be written
  // at full width) and the fitted storage comes from lines recycled
  // earlier, so steady scrolling allocates nothing.
  void fit_scrolled(Line& scrolled, Line& fresh);

  // Puts a line into row i's slot; the line that was there is recycled.
  void store(size_t i, std::unique_ptr<Line> line);
  std::unique_ptr<Line> take(size_t i) { return std::move(slots_[slot(i)]); }
  // Appends at logical row count; when full the oldest line falls out.
  void push(std::unique_ptr<Line> line);
  // Inserts before logical row i (i <= count), moving later rows down; when
  // full the oldest line falls out first, so the line lands at i - 1.
  void insert(size_t i, std::unique_ptr<Line> line);
  // Removes logical row i, closing the gap.
  std::unique_ptr<Line> remove(size_t i);
  // Drops the n oldest lines.
  void drop_oldest(size_t n);
  // Drops the newest lines until count is n.
  void truncate(size_t n);
  // Re-lays the ring with the oldest line in slot 0 and a new capacity
  // (not below count).
  void set_capacity(size_t capacity);
  // Rotates rows [from, to] (inclusive) by one: up moves each row one slot
  // up and puts row `from` at `to`; down the reverse.
  void rotate_up(size_t from, size_t to);
  void rotate_down(size_t from, size_t to);
  // Moves rows [from + k, to] up to [from, to - k], recycling rows
  // [from, from + k); the k rows left at the bottom are empty slots.
  void shift_up(size_t from, size_t to, size_t k);
  // Moves rows [from, to - k] down to [from + k, to], recycling the rows
  // pushed past `to`; the k rows left at the top are empty slots.
  void shift_down(size_t from, size_t to, size_t k);

 private:
  size_t slot(size_t i) const {
    size_t s = head_ + i;
    return s >= capacity_ ? s - capacity_ : s;
  }
  std::vector<std::unique_ptr<Line>> slots_;
  std::vector<std::unique_ptr<Line>> pool_;
  // Fitted cell storage by size class (capacity 8 * (index + 1)).
  std::vector<std::vector<CellRow>> fitted_;
  size_t fitted_cells_ = 0;
  void stash_fitted(CellRow&& cells);
  size_t head_ = 0;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

struct SavedCursor {
  int64_t row = 0;  // absolute: cursor row + scroll-back count when saved
  uint32_t col = 0;
  uint32_t fg = 0;
  uint32_t bg = 0;
  int charset = -1;  // index of a national set table; -1 = ASCII
};

struct Buffer {
  LineStore lines;
  std::vector<uint8_t> tab_stops;
  uint32_t scroll_back = 0;
  uint32_t cursor_row = 0;
  uint32_t cursor_col = 0;  // cols = pending wrap
  uint32_t region_bottom = 0;
  uint32_t region_top = 0;
  SavedCursor saved;
  uint32_t scroll_back_limit = kScrollBackLimit;
  uint32_t cols = 0;
  uint32_t rows = 0;
  bool has_scroll_back = false;

  size_t target_capacity() const { return rows + (has_scroll_back ? kScrollBackLimit : 0); }
  size_t screen_index(uint32_t r) const { return size_t{scroll_back} + r; }
};

Buffer buffer_new(bool primary, uint32_t cols, uint32_t rows);
void reset_buffer(Buffer& b);
void buffer_fill_blank(Buffer& b, const Pen& pen);

// Line of logical row i, or null when the slot is empty or i is past the
// stored lines.
Line* buffer_get_line(Buffer& b, size_t i);
const Line* buffer_get_line(const Buffer& b, size_t i);
// The line of logical row i, storing a blank of the buffer's width first
// when the slot is empty (rows past the store are appended).
Line& line_for_write(Buffer& b, size_t i);
// The line for readers: an empty slot reads as one shared empty line.
const Line& line_or_empty(const Buffer& b, size_t i);
// The line of screen row r for writing.
inline Line& screen_line(Buffer& b, uint32_t r) { return line_for_write(b, b.screen_index(r)); }

void reset_tab_stops(Buffer& b, bool keep, uint32_t width);
uint32_t next_tab_stop(const Buffer& b);
uint32_t previous_tab_stop(const Buffer& b);
void set_tab_stop(Buffer& b);

}  // namespace mossbank::term
