// The visible rows as text for the screen readers. Their exact shape is part
// of the readers' contract: rows joined by "\n", each row cut after its last
// drawn cell, wide characters once, combining text whole.
#include <string>

#include "terminal/terminal.h"

namespace mossbank::term {

namespace {

bool is_faint(Cell c) { return (c.bg & kDim) != 0 || (c.fg & kColourMask) == colour_palette(8); }

void append_colour(std::string& out, uint32_t word, bool background) {
  uint32_t colour = word & kColourMask;
  switch (colour_kind(colour)) {
    case kColourPalette: {
      uint32_t i = colour & 0xFF;
      uint32_t code = i < 8 ? (background ? 40 : 30) + i : (background ? 100 : 90) + (i - 8);
      out += ';';
      out += std::to_string(code);
      break;
    }
    case kColourIndexed:
      out += background ? ";48;5;" : ";38;5;";
      out += std::to_string(colour & 0xFF);
      break;
    case kColourRgb:
      out += background ? ";48;2;" : ";38;2;";
      out += std::to_string(colour >> 16 & 0xFF);
      out += ';';
      out += std::to_string(colour >> 8 & 0xFF);
      out += ';';
      out += std::to_string(colour & 0xFF);
      break;
    default:
      break;
  }
}

std::string style_params(Cell c) {
  std::string p;
  if (is_faint(c)) p += ";2";
  if (c.fg & kInverse) p += ";7";
  append_colour(p, c.fg, false);
  append_colour(p, c.bg, true);
  return p;
}

// Calls cell(line, col, cell) for every cell a row shows, in order.
template <class F>
void for_each_shown(const Line& line, F&& cell) {
  uint32_t end = content_end(line);
  for (uint32_t col = 0; col < end;) {
    Cell c = cell_at(line, col);
    cell(col, c);
    uint32_t w = c.width();
    col += w == 0 ? 1 : w;
  }
}

void append_side_text(const Line& line, uint32_t col, Cell c, std::string& out) {
  if (!append_cell_text(line, col, c, out) && !c.has_text()) out += ' ';
}

inline void append_shown(const Line& line, uint32_t col, Cell c, std::string& out) {
  // Most cells hold one ASCII character or nothing: no side data to look up.
  if (!c.has_text() && c.code_point() < 0x80) [[likely]] {
    out += c.code_point() == 0 ? ' ' : static_cast<char>(c.code_point());
    return;
  }
  append_side_text(line, col, c, out);
}

template <class Row>
std::string join_rows(const Terminal& t, Row&& row) {
  const Buffer& b = t.active();
  std::string out;
  // One allocation for a screen of single-byte cells.
  out.reserve(static_cast<size_t>(b.rows) * (b.cols + 1));
  for (uint32_t r = 0; r < b.rows; ++r) {
    if (r > 0) out += '\n';
    if (const Line* line = buffer_get_line(b, b.screen_index(r))) row(*line, out);
  }
  return out;
}

}  // namespace

std::string screen_lines(const Terminal& t) {
  return join_rows(t, [](const Line& line, std::string& out) {
    for_each_shown(line, [&](uint32_t col, Cell c) { append_shown(line, col, c, out); });
  });
}

std::string screen_lines_styled(const Terminal& t) {
  return join_rows(t, [](const Line& line, std::string& out) {
    constexpr uint32_t kFgLook = kColourMask | kInverse;
    constexpr uint32_t kBgLook = kColourMask | kDim;
    bool have_prev = false;
    uint32_t prev_fg = 0, prev_bg = 0;
    std::string prev;  // the previous cell's parameter text
    for_each_shown(line, [&](uint32_t col, Cell c) {
      uint32_t fg = c.fg & kFgLook, bg = c.bg & kBgLook;
      if (!have_prev || fg != prev_fg || bg != prev_bg) {
        std::string params = style_params(c);
        if (params != prev) {
          out += "\x1b[0";
          out += params;
          out += 'm';
          prev = std::move(params);
        }
        have_prev = true;
        prev_fg = fg;
        prev_bg = bg;
      }
      append_shown(line, col, c, out);
    });
    if (!prev.empty()) out += "\x1b[0m";
  });
}

std::string screen_lines_marked(const Terminal& t) {
  return join_rows(t, [](const Line& line, std::string& out) {
    bool faint = false, inverse = false;
    for_each_shown(line, [&](uint32_t col, Cell c) {
      bool f = is_faint(c), i = (c.fg & kInverse) != 0;
      if (f != faint || i != inverse) {
        out += f ? (i ? "\x1b[0;2;7m" : "\x1b[0;2m") : (i ? "\x1b[0;7m" : "\x1b[0m");
        faint = f;
        inverse = i;
      }
      append_shown(line, col, c, out);
    });
    if (faint || inverse) out += "\x1b[0m";
  });
}

}  // namespace mossbank::term
