// The readers' pattern dialect, turned into PCRE2 syntax.
//
// The readers' patterns are written for a leftmost-first engine with these
// meanings, which PCRE2 does not share out of the box:
//   \s \S        Unicode White_Space (U+0085 yes; U+180E and U+FEFF no)
//   \d \D        Unicode decimal digits (Nd)
//   \w \W        alphabetic, marks, Nd, connector punctuation, join controls
//   \b \B        boundaries between \w and non-\w (text edges are non-\w);
//                also \< \> and \b{start}, \b{end}, \b{start-half}, \b{end-half}
//   (?-u ...)    ASCII meanings of the above, and ASCII-only case folding
//                under (?i) (k never matches U+212A, s never U+017F)
//   ^ $          start and end of the text; under (?m) also after / before
//                every "\n" (a final "\n" included)
//   .            any character but "\n"; under (?s) any character
//   \x7F \x{..} \u007F \u{..} \U0000007F \U{..}   code points
//   classes      nesting, && -- ~~ set operations, [[:alpha:]] (ASCII)
//   flags        i m s x U u, as (?flags), (?flags:...), with - to clear
// Look-around, back-references and possessive forms are not in the dialect.
//
// The output is meant for PCRE2 compiled with UTF and UCP, DOLLAR_ENDONLY and
// LF newlines; it sets no options except caseless matching, and it adds no
// capturing groups, so group numbers stay as written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace mossbank::screen {

struct DialectError {
  std::string text;   // what is wrong
  size_t offset = 0;  // byte offset into the pattern
};

std::variant<std::string, DialectError> translate_dialect(std::string_view pattern);

// The template with every {js_space} and {js_nonspace} replaced by the class
// texts; other braces stay as they are.
std::string splice_js_classes(std::string_view pattern_template);

}  // namespace mossbank::screen
