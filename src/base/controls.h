// The C0 control characters, as chars, that text to and from a terminal is
// searched and built with. The terminal's parser names them as code points
// (terminal/sequences.h); these are for the bytes of std::string text.
#pragma once

namespace mossbank {

inline constexpr char kCtrlC = '\x03';  // ETX, what Ctrl-C types
inline constexpr char kBel = '\x07';    // also ends an OSC string
inline constexpr char kBs = '\x08';
inline constexpr char kEsc = '\x1b';
inline constexpr char kDel = '\x7f';  // what Backspace types

}  // namespace mossbank
