#include "terminal/buffer.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <algorithm>
#include <string>

#include "base/fatal.h"

namespace mossbank::term {

namespace {

// Lines kept for reuse; beyond this, lines that leave are freed.
constexpr size_t kPoolLimit = 256;
// Fitted cell vectors kept for reuse, per size class and in all.
constexpr size_t kFittedPerClass = 128;
constexpr size_t kFittedCellLimit = 256 * 1024;
constexpr size_t kFitGranule = 8;

[[noreturn]] void fault(const char* what) { fatal(std::string("terminal: ") + what); }

}  // namespace

LineStore::LineStore(size_t capacity) : slots_(capacity), capacity_(capacity) {}

std::unique_ptr<Line> LineStore::make_line(uint32_t width, const Pen& pen, bool wrapped) {
  std::unique_ptr<Line> line;
  if (!pool_.empty()) {
    line = std::move(pool_.back());
    pool_.pop_back();
  } else {
    line = std::make_unique<Line>();
  }
  line_reset(*line, width, pen, wrapped);
  return line;
}

void LineStore::stash_fitted(CellRow&& cells) {
  size_t cap = cells.capacity();
  if (cap == 0 || cap % kFitGranule != 0) return;
  size_t cls = cap / kFitGranule - 1;
  if (fitted_cells_ + cap > kFittedCellLimit) return;
  if (fitted_.size() <= cls) fitted_.resize(cls + 1);
  if (fitted_[cls].size() >= kFittedPerClass) return;
  cells.clear();
  fitted_[cls].push_back(std::move(cells));
  fitted_cells_ += cap;
  cells = {};
}

void LineStore::recycle(std::unique_ptr<Line> line) {
  if (!line || pool_.size() >= kPoolLimit) return;
  // Fitted storage (a scroll-back line's) is kept for the next line that
  // scrolls into scroll-back; wide storage stays with the line.
  if (line->cells.capacity() < line->width) stash_fitted(std::move(line->cells));
  pool_.push_back(std::move(line));
}

void LineStore::fit_scrolled(Line& scrolled, Line& fresh) {
  const size_t n = scrolled.cells.size();
  const size_t want = (n + kFitGranule - 1) / kFitGranule * kFitGranule;
  const size_t cap = scrolled.cells.capacity();
  const bool fresh_needs =
      fresh.cells.empty() && fresh.cells.capacity() < fresh.width && cap > fresh.cells.capacity();
  if (cap <= want && !fresh_needs) return;
  CellRow fitted;
  if (want > 0) {
    size_t cls = want / kFitGranule - 1;
    if (cls < fitted_.size() && !fitted_[cls].empty()) {
      fitted = std::move(fitted_[cls].back());
      fitted_[cls].pop_back();
      fitted_cells_ -= fitted.capacity();
    } else {
      fitted.reserve(want);
    }
    fitted.assign(scrolled.cells.begin(), scrolled.cells.end());
  }
  if (fresh_needs) {
    scrolled.cells.clear();
    std::swap(fresh.cells, scrolled.cells);
  }
  stash_fitted(std::move(scrolled.cells));
  scrolled.cells = std::move(fitted);
}

void LineStore::store(size_t i, std::unique_ptr<Line> line) {
  if (i >= count_) fault("line slot out of range");
  recycle(std::exchange(slots_[slot(i)], std::move(line)));
}

void LineStore::push(std::unique_ptr<Line> line) {
  if (capacity_ == 0) return recycle(std::move(line));
  if (count_ < capacity_) {
    slots_[slot(count_)] = std::move(line);
    ++count_;
    return;
  }
  recycle(std::exchange(slots_[head_], std::move(line)));
  head_ = head_ + 1 == capacity_ ? 0 : head_ + 1;
}

void LineStore::insert(size_t i, std::unique_ptr<Line> line) {
  if (i > count_) fault("line slot out of range");
  if (full()) {
    if (i == 0) return recycle(std::move(line));
    drop_oldest(1);
    --i;
  }
  ++count_;
  for (size_t k = count_ - 1; k > i; --k) slots_[slot(k)] = std::move(slots_[slot(k - 1)]);
  slots_[slot(i)] = std::move(line);
}

std::unique_ptr<Line> LineStore::remove(size_t i) {
  if (i >= count_) fault("line slot out of range");
  std::unique_ptr<Line> line = std::move(slots_[slot(i)]);
  for (size_t k = i; k + 1 < count_; ++k) slots_[slot(k)] = std::move(slots_[slot(k + 1)]);
  --count_;
  return line;
}

void LineStore::drop_oldest(size_t n) {
  n = std::min(n, count_);
  for (size_t k = 0; k < n; ++k) {
    recycle(std::move(slots_[head_]));
    head_ = head_ + 1 == capacity_ ? 0 : head_ + 1;
  }
  count_ -= n;
  if (count_ == 0) head_ = 0;
}

void LineStore::truncate(size_t n) {
  while (count_ > n) {
    --count_;
    recycle(std::move(slots_[slot(count_)]));
  }
}

void LineStore::set_capacity(size_t capacity) {
  if (capacity < count_) fault("line store capacity below its count");
  std::vector<std::unique_ptr<Line>> slots(capacity);
  for (size_t i = 0; i < count_; ++i) slots[i] = std::move(slots_[slot(i)]);
  slots_ = std::move(slots);
  head_ = 0;
  capacity_ = capacity;
}

void LineStore::rotate_up(size_t from, size_t to) {
  if (to >= count_ || from > to) fault("line slot out of range");
  std::unique_ptr<Line> first = std::move(slots_[slot(from)]);
  for (size_t k = from; k < to; ++k) slots_[slot(k)] = std::move(slots_[slot(k + 1)]);
  slots_[slot(to)] = std::move(first);
}

void LineStore::rotate_down(size_t from, size_t to) {
  if (to >= count_ || from > to) fault("line slot out of range");
  std::unique_ptr<Line> last = std::move(slots_[slot(to)]);
  for (size_t k = to; k > from; --k) slots_[slot(k)] = std::move(slots_[slot(k - 1)]);
  slots_[slot(from)] = std::move(last);
}

void LineStore::shift_up(size_t from, size_t to, size_t k) {
  if (to >= count_ || from > to) fault("line slot out of range");
  k = std::min(k, to - from + 1);
  if (k == 0) return;
  for (size_t i = from; i < from + k; ++i) recycle(std::move(slots_[slot(i)]));
  for (size_t i = from; i + k <= to; ++i) slots_[slot(i)] = std::move(slots_[slot(i + k)]);
}

void LineStore::shift_down(size_t from, size_t to, size_t k) {
  if (to >= count_ || from > to) fault("line slot out of range");
  k = std::min(k, to - from + 1);
  if (k == 0) return;
  for (size_t i = to + 1 - k; i <= to; ++i) recycle(std::move(slots_[slot(i)]));
  for (size_t i = to; i >= from + k; --i) slots_[slot(i)] = std::move(slots_[slot(i - k)]);
}

void reset_tab_stops(Buffer& b, bool keep, uint32_t width) {
  if (b.cols == 0) fault("tab stops asked of a buffer with no columns");
  uint32_t start = 0;
  if (!keep) {
    b.tab_stops.assign(b.cols, 0);
  } else {
    if (width < b.tab_stops.size() && b.tab_stops[width]) {
      start = width;
    } else {
      for (size_t c = std::min<size_t>(width, b.tab_stops.size()); c-- > 0;)
        if (b.tab_stops[c]) {
          start = static_cast<uint32_t>(c);
          break;
        }
    }
    if (b.tab_stops.size() < b.cols) b.tab_stops.resize(b.cols, 0);
  }
  for (uint32_t c = start; c < b.cols; c += kTabWidth) b.tab_stops[c] = 1;
}

uint32_t next_tab_stop(const Buffer& b) {
  for (uint32_t c = b.cursor_col + 1; c < b.cols; ++c)
    if (c < b.tab_stops.size() && b.tab_stops[c]) return c;
  return b.cols - 1;
}

uint32_t previous_tab_stop(const Buffer& b) {
  uint32_t c = std::min(b.cursor_col, b.cols);
  while (c-- > 0)
    if (c < b.tab_stops.size() && b.tab_stops[c]) return std::min(c, b.cols - 1);
  return 0;
}

void set_tab_stop(Buffer& b) {
  if (b.tab_stops.size() <= b.cursor_col) b.tab_stops.resize(size_t{b.cursor_col} + 1, 0);
  b.tab_stops[b.cursor_col] = 1;
}

Buffer buffer_new(bool primary, uint32_t cols, uint32_t rows) {
  Buffer b;
  b.has_scroll_back = primary;
  b.cols = cols;
  b.rows = rows;
  b.lines = LineStore(b.target_capacity());
  b.region_top = 0;
  b.region_bottom = rows - 1;
  reset_tab_stops(b, false, cols);
  return b;
}

void reset_buffer(Buffer& b) {
  b.lines.truncate(0);
  b.lines.set_capacity(b.target_capacity());
  b.cursor_row = 0;
  b.cursor_col = 0;
  b.scroll_back = 0;
  b.region_top = 0;
  b.region_bottom = b.rows - 1;
  reset_tab_stops(b, false, b.cols);
}

void buffer_fill_blank(Buffer& b, const Pen& pen) {
  if (b.lines.count() != 0) return;
  for (uint32_t r = 0; r < b.rows; ++r) b.lines.push(b.lines.make_line(b.cols, pen, false));
}

Line* buffer_get_line(Buffer& b, size_t i) {
  return i < b.lines.count() ? b.lines.get(i) : nullptr;
}

const Line* buffer_get_line(const Buffer& b, size_t i) {
  return i < b.lines.count() ? b.lines.get(i) : nullptr;
}

Line& line_for_write(Buffer& b, size_t i) {
  if (i >= b.lines.capacity()) fault("line slot out of range");
  while (b.lines.count() <= i) b.lines.push(b.lines.make_line(b.cols, Pen{}, false));
  if (Line* line = b.lines.get(i)) return *line;
  b.lines.store(i, b.lines.make_line(b.cols, Pen{}, false));
  Line* line = b.lines.get(i);
  if (!line) fault("a line set just now");
  return *line;
}

const Line& line_or_empty(const Buffer& b, size_t i) {
  static const Line empty;
  const Line* line = buffer_get_line(b, i);
  return line ? *line : empty;
}

}  // namespace mossbank::term
