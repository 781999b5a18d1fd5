// Resizing both buffers, with reflow of the primary buffer's soft-wrapped
// lines. The bottom of the screen stays anchored to the newest content and
// the cursor stays on its own content.
#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "terminal/terminal.h"

namespace mossbank::term {

namespace {

using LinePtr = std::unique_ptr<Line>;

// The content of a logical line: its cells in order and, sparsely, their
// side data (text views stay valid while the source rows live).
struct Content {
  std::vector<Cell> cells;
  std::vector<std::pair<uint32_t, std::string_view>> texts;
  std::vector<std::pair<uint32_t, Extras>> extras;
};

// The columns of rows [a, b] of a logical line: every row but the last
// counts its full old width (less the column a wrapped wide character could
// not use), the last up to its content end.
void gather(const std::vector<LinePtr>& lines, size_t a, size_t b, uint32_t old_cols,
            Content& out) {
  out.cells.clear();
  out.texts.clear();
  out.extras.clear();
  for (size_t j = a; j <= b; ++j) {
    const Line& row = *lines[j];
    uint32_t len;
    if (j < b) {
      len = std::min(old_cols, row.width);
      const Line& next = *lines[j + 1];
      const Cell last = cell_at(row, len - 1);
      // A blank last column (not a spacer) before a wide character: the
      // column the wrapped character could not use.
      if (len > 0 && !last.has_content() && !last.is_spacer() && cell_at(next, 0).is_wide()) --len;
    } else {
      len = content_end(row);
    }
    const uint32_t base = static_cast<uint32_t>(out.cells.size());
    const uint32_t stored = static_cast<uint32_t>(std::min<size_t>(len, row.cells.size()));
    out.cells.insert(out.cells.end(), row.cells.begin(), row.cells.begin() + stored);
    out.cells.resize(size_t{base} + len, kBlankCell);
    row.text.for_each([&](uint32_t col, std::string_view text) {
      if (col < len && row.cells[col].has_text()) out.texts.emplace_back(base + col, text);
    });
    for (const auto& [col, e] : row.attrs.entries())
      if (col < len && (row.cells[col].bg & kHasExtras)) out.extras.emplace_back(base + col, e);
  }
}

// The content packed into rows of `width`; a wide character that would
// straddle a row's end starts the next row instead.
void pack(LineStore& store, const Content& content, uint32_t width, bool first_wrapped,
          std::vector<LinePtr>& out) {
  const size_t n = content.cells.size();
  size_t pos = 0, text = 0, extra = 0;
  bool wrapped = first_wrapped;
  do {
    LinePtr line = store.make_line(width, Pen{}, wrapped);
    size_t k = std::min<size_t>(n - pos, width);
    if (k == width && k > 1 && content.cells[pos + k - 1].is_wide()) --k;
    line->cells.assign(content.cells.data() + pos, content.cells.data() + pos + k);
    while (!line->cells.empty() && line->cells.back().is_default_blank()) line->cells.pop_back();
    for (; text < content.texts.size() && content.texts[text].first < pos + k; ++text)
      line->text.set(static_cast<uint32_t>(content.texts[text].first - pos),
                     content.texts[text].second);
    for (; extra < content.extras.size() && content.extras[extra].first < pos + k; ++extra)
      line->attrs.set(static_cast<uint32_t>(content.extras[extra].first - pos),
                      content.extras[extra].second);
    out.push_back(std::move(line));
    pos += k;
    wrapped = true;
  } while (pos < n);
}

// Where a logical row of the old store went: the first new row of its
// logical line and the number of new rows it has.
struct Moved {
  size_t first = 0;
  size_t rows = 1;
  size_t old_first = 0;
  bool reflowed = false;
};

void reflow(Buffer& b, uint32_t old_cols, uint32_t new_cols) {
  LineStore& store = b.lines;
  const size_t count = store.count();
  if (count == 0) return;
  std::vector<LinePtr> lines;
  lines.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    LinePtr line = store.take(i);
    if (!line) line = store.make_line(b.cols, Pen{}, false);
    lines.push_back(std::move(line));
  }
  store.truncate(0);

  const size_t cursor = std::min<size_t>(size_t{b.scroll_back} + b.cursor_row, count - 1);
  const bool widening = new_cols > old_cols;
  std::vector<LinePtr> out;
  out.reserve(count + count / 4);
  std::vector<Moved> moved(count);
  Content content;
  size_t new_cursor = cursor;
  for (size_t a = 0; a < count;) {
    size_t e = a;
    while (e + 1 < count && lines[e + 1]->wrapped) ++e;
    const bool has_cursor = cursor >= a && cursor <= e;
    const bool needed = widening ? e > a : (e > a || content_end(*lines[a]) > new_cols);
    Moved m{out.size(), e - a + 1, a, false};
    if (has_cursor || !needed) {
      for (size_t j = a; j <= e; ++j) out.push_back(std::move(lines[j]));
      if (has_cursor) new_cursor = m.first + (cursor - a);
    } else {
      gather(lines, a, e, old_cols, content);
      pack(store, content, new_cols, lines[a]->wrapped, out);
      m.rows = out.size() - m.first;
      m.reflowed = true;
      for (size_t j = a; j <= e; ++j) store.recycle(std::move(lines[j]));
    }
    for (size_t j = a; j <= e; ++j) moved[j] = m;
    a = e + 1;
  }

  // Where an old logical row is now (the saved cursor follows its row).
  auto new_index = [&](int64_t old) -> int64_t {
    if (old < 0) return 0;
    if (static_cast<size_t>(old) >= count)
      return static_cast<int64_t>(out.size()) + (old - int64_t(count));
    const Moved& m = moved[static_cast<size_t>(old)];
    size_t offset = static_cast<size_t>(old) - m.old_first;
    return static_cast<int64_t>(m.first + std::min(offset, m.rows - 1));
  };
  int64_t saved = new_index(b.saved.row);

  // Never more rows than the store holds: the oldest fall out.
  size_t drop = out.size() > store.capacity() ? out.size() - store.capacity() : 0;
  drop = std::min(drop, new_cursor);
  for (size_t i = 0; i < drop; ++i) store.recycle(std::move(out[i]));
  out.erase(out.begin(), out.begin() + static_cast<ptrdiff_t>(drop));
  if (out.size() > store.capacity()) {
    // Only rows below the cursor are left to cut.
    while (out.size() > store.capacity()) {
      store.recycle(std::move(out.back()));
      out.pop_back();
    }
  }
  new_cursor -= drop;
  saved -= static_cast<int64_t>(drop);

  const uint32_t rows = b.rows;
  const size_t old_bottom = size_t{b.scroll_back} + rows;  // rows the screen ended on before
  size_t n = out.size();
  size_t scroll_back;
  if (n <= rows) {
    scroll_back = 0;
  } else {
    scroll_back = n - rows;  // the bottom stays anchored to the newest row
    if (!widening && b.scroll_back == 0 && n > old_bottom) {
      // No scroll-back before: growth is taken by blank rows at the bottom
      // rather than pushing the top away.
      while (scroll_back > 0 && out.size() - 1 > new_cursor && content_end(*out.back()) == 0) {
        store.recycle(std::move(out.back()));
        out.pop_back();
        --scroll_back;
      }
    }
    if (new_cursor < scroll_back) {
      // The cursor's row must stay on the screen: rows that no longer fit
      // below it are cut.
      scroll_back = new_cursor;
      while (out.size() > scroll_back + rows) {
        store.recycle(std::move(out.back()));
        out.pop_back();
      }
    }
  }
  for (LinePtr& line : out) store.push(std::move(line));
  while (store.count() < scroll_back + rows) store.push(store.make_line(b.cols, Pen{}, false));
  b.scroll_back = static_cast<uint32_t>(scroll_back);
  b.cursor_row = static_cast<uint32_t>(new_cursor - scroll_back);
  b.saved.row = std::clamp<int64_t>(saved, 0, int64_t(scroll_back) + rows - 1);
}

void buffer_resize(Buffer& b, uint32_t cols, uint32_t rows) {
  const uint32_t old_cols = b.cols, old_rows = b.rows;
  b.cols = cols;
  b.rows = rows;
  const size_t target = b.target_capacity();
  LineStore& store = b.lines;
  if (store.count() == 0) {
    store.set_capacity(target);
    b.region_top = 0;
    b.region_bottom = rows - 1;
    return;
  }
  if (store.capacity() < target) store.set_capacity(target);
  if (old_cols < cols)
    for (size_t i = 0; i < store.count(); ++i)
      if (Line* line = store.get(i)) set_line_width(*line, cols, Pen{});
  uint32_t taken = 0;
  if (rows > old_rows) {
    for (uint32_t k = old_rows; k < rows && store.count() < size_t{b.scroll_back} + rows; ++k) {
      if (b.scroll_back > 0 && size_t{taken} + 1 + b.scroll_back + b.cursor_row >= store.count()) {
        --b.scroll_back;
        ++taken;
      } else {
        store.push(store.make_line(cols, Pen{}, false));
      }
    }
  } else if (rows < old_rows) {
    for (uint32_t k = rows; k < old_rows && size_t{rows} + b.scroll_back < store.count(); ++k) {
      if (size_t{b.scroll_back} + b.cursor_row + 1 < store.count()) {
        store.truncate(store.count() - 1);
      } else {
        ++b.scroll_back;
      }
    }
  }
  if (target < store.capacity()) {
    if (store.count() > target) {
      const size_t dropped = store.count() - target;
      store.drop_oldest(dropped);
      b.scroll_back = static_cast<uint32_t>(b.scroll_back > dropped ? b.scroll_back - dropped : 0);
      b.saved.row = std::max<int64_t>(0, b.saved.row - static_cast<int64_t>(dropped));
    }
    store.set_capacity(target);
  }
  b.cursor_col = std::min(b.cursor_col, cols - 1);
  b.cursor_row = taken + std::min(b.cursor_row, rows - 1);
  b.saved.col = std::min(b.saved.col, cols - 1);
  b.region_top = 0;
  b.region_bottom = rows - 1;
  if (b.has_scroll_back && old_cols != cols) reflow(b, old_cols, cols);
  if (cols < old_cols)
    for (size_t i = 0; i < store.count(); ++i)
      if (Line* line = store.get(i)) set_line_width(*line, cols, Pen{});
}

}  // namespace

void terminal_resize(Terminal& t, uint32_t cols, uint32_t rows) {
  cols = std::clamp(cols, kMinTerminalCols, kMaxTerminalSide);
  rows = std::clamp(rows, kMinTerminalRows, kMaxTerminalSide);
  if (cols == t.cols && rows == t.rows) return;
  // A new width moves the last column away from the character the cursor
  // stands on.
  if (cols != t.cols) t.print_state &= ~kPrintedLastColumn;
  t.cols = cols;
  t.rows = rows;
  buffer_resize(t.primary, cols, rows);
  buffer_resize(t.alternate, cols, rows);
  reset_tab_stops(t.primary, true, cols);
  reset_tab_stops(t.alternate, true, cols);
}

}  // namespace mossbank::term
