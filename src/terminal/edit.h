// The editing primitives that printing, the controls and the ESC and CSI
// sequences are built on: cursor moves, erasing, inserting and deleting
// characters, lines and columns, scrolling, index and line feed. Each works
// on the active buffer; counts are already at least 1. Blanks are made in
// the erase pen, whose background the erasing steps first take from the pen.
#pragma once

#include <cstdint>

#include "terminal/terminal.h"

namespace mossbank::term {

// ---- Cursor
// Column at most cols (allow_pending) or cols-1; row inside the screen, or
// inside the scroll region in origin mode.
void clamp_cursor(Terminal& t, bool allow_pending);
// Moves to (col, row), any values, then clamps.
void set_cursor_position(Terminal& t, int64_t col, int64_t row);
// Up and down stop at the region's edge when they start inside it.
void cursor_up(Terminal& t, uint32_t n);
void cursor_down(Terminal& t, uint32_t n);
void cursor_right(Terminal& t, int64_t n);  // negative: left
void save_cursor(Terminal& t);
void restore_cursor(Terminal& t);
void backspace(Terminal& t);

// ---- Erasing (selective: protected cells stay)
// Sets the erase pen's background colour from the pen's.
void update_erase_pen(Terminal& t);
void erase_in_display(Terminal& t, int32_t mode, bool selective);  // ED
void erase_in_line(Terminal& t, int32_t mode, bool selective);     // EL
void erase_characters(Terminal& t, uint32_t n);                    // ECH
// Fills the screen with "E" from the home row down (DECALN).
void screen_alignment(Terminal& t);

// ---- Characters, lines and columns
void insert_characters(Terminal& t, uint32_t n);  // ICH
void delete_characters(Terminal& t, uint32_t n);  // DCH
// At the cursor row, only inside the region; the cursor goes to column 0.
void insert_lines(Terminal& t, uint32_t n);  // IL
void delete_lines(Terminal& t, uint32_t n);  // DL
// On every row of the region, only when the cursor row is inside it.
void scroll_left(Terminal& t, uint32_t n);     // SL
void scroll_right(Terminal& t, uint32_t n);    // SR
void insert_columns(Terminal& t, uint32_t n);  // DECIC
void delete_columns(Terminal& t, uint32_t n);  // DECDC

// ---- Scrolling, index and line feed
// n lines of the region (SU: the top rows leave without entering
// scroll-back; SD: the new top rows have default colours).
void scroll_region_up(Terminal& t, uint32_t n);    // SU
void scroll_region_down(Terminal& t, uint32_t n);  // SD
// Scrolls the active buffer's region up one line; the new bottom row is a
// blank in `pen` with the given wrapped flag. A region at the top of the
// screen sends its top row into scroll-back.
void scroll_up(Terminal& t, const Pen& pen, bool wrapped);
void index_down(Terminal& t);     // IND
void reverse_index(Terminal& t);  // RI
void line_feed(Terminal& t);      // LF, VT, FF

}  // namespace mossbank::term
