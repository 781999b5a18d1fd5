// What the parser's print, execute and ESC-dispatch actions do to the
// terminal. Everything works on the active buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "terminal/terminal.h"

namespace mossbank::term {

// Prints the run of printable code points that starts at p (UTF-8, up to the
// first C0 control, DEL or C1 control) and returns where it stopped.
const uint8_t* print_run(Terminal& t, const uint8_t* p, const uint8_t* end);
// Prints code points (REP repeats through here).
void print_chars(Terminal& t, const uint32_t* cps, size_t n);

void execute_control(Terminal& t, uint32_t code);
void esc_dispatch(Terminal& t, uint32_t key);

void full_reset(Terminal& t);

// Charset tables: index into the national sets, -1 = ASCII.
int charset_for_final(uint32_t final_byte);  // -2 when the final names no set
// The 128-entry translation for a set; 0 = unchanged. Null for ASCII.
const uint32_t* charset_map(int index);

}  // namespace mossbank::term
