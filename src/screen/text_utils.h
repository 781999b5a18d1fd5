// Screen text as every reader takes it apart.
//
// Screen text is UTF-8: the visible rows joined by "\n", a "\r" here and
// there, and in the styled forms CSI escape sequences. Readers clean it in
// this order: strip_escapes of the whole text, split_lines, then per row
// trim_end_js, js_trim or trim_trailing_dots as they need. A row is blank
// when js_trim leaves nothing.
//
// White space here is JavaScript's (the js_space class of screen_pattern.h):
// U+FEFF and U+3000 are white, U+0085 is not.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace mossbank::screen {

// The text without CSI sequences of numeric, ";", ":" and "?" parameters and
// a letter final. OSC strings, a lone ESC and CSI sequences with other
// intermediate bytes stay.
std::string strip_escapes(std::string_view text);

// Every "\r" removed, then the rows between "\n"s: an empty text is one empty
// row, and a text ending in "\n" ends with an empty row.
std::vector<std::string> split_lines(std::string_view text);

// strip_escapes, split_lines, and trim_end_js of each row; as many rows as
// the text has, in order.
std::vector<std::string> screen_text_rows(std::string_view text);

// JavaScript's trim and trimEnd, as every subsystem trims.
using mossbank::js_trim;
using mossbank::trim_end_js;

// Without its trailing run of full stops, "…" and white space
// ("Continue… " gives "Continue", "..." gives "").
std::string_view trim_trailing_dots(std::string_view text);

}  // namespace mossbank::screen
