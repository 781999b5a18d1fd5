#include "screen/text_utils.h"

#include "screen/screen_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

using Rows = std::vector<std::string>;

TEST(JsSpace, ClassTexts) {
  EXPECT_EQ(js_space,
            "[\\t\\n\\x0B\\x0C\\r \\u{a0}\\u{1680}\\u{2000}-\\u{200a}\\u{2028}\\u{2029}"
            "\\u{202f}\\u{205f}\\u{3000}\\u{feff}]");
  EXPECT_EQ(js_nonspace, "[^" + std::string(js_space.substr(1)));
}

TEST(StripEscapes, RemovesOnlyCsiWithPlainParametersAndALetterFinal) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"\x1b[0;7mYes\x1b[0m", "Yes"},
      {"\x1b]0;title\x07x", "\x1b]0;title\x07x"},  // OSC stays
      {"a\x1b[?25lb\x1b[38:2:1:2:3mc", "abc"},
      {"lone \x1b x", "lone \x1b x"},
      {"\x1b[2 q", "\x1b[2 q"},     // intermediate byte: stays
      {"\x1b[1~", "\x1b[1~"},       // not a letter final
      {"\x1b[\x1b[1mX", "\x1b[X"},  // the inner one goes, leaving "\x1b[" and "X"
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(strip_escapes(c.text), c.expected) << c.text;
}

TEST(SplitLines, RowsBetweenNewlines) {
  EXPECT_EQ(split_lines("a\r\nb\n"), (Rows{"a", "b", ""}));
  EXPECT_EQ(split_lines(""), (Rows{""}));
  EXPECT_EQ(split_lines("\n"), (Rows{"", ""}));
  EXPECT_EQ(split_lines("a\rb"), (Rows{"ab"}));
  EXPECT_EQ(split_lines("x\n\ny"), (Rows{"x", "", "y"}));
}

TEST(ScreenTextRows, StripsSplitsAndTrimsEachRowKeepingTheCount) {
  const std::string text = "\x1b[0;7m❯ Yes \x1b[0m\u3000\r\n  \n\x1b[2mno\uFEFF\x1b[0m\n";
  EXPECT_EQ(screen_text_rows(text), (Rows{"❯ Yes", "", "no", ""}));
  // Leading blanks stay; U+0085 is not white.
  EXPECT_EQ(screen_text_rows("  a\u0085"), (Rows{"  a\u0085"}));
}

TEST(Trims, JavaScriptWhiteSpace) {
  struct Case {
    std::string text;
    std::string end_trimmed;
    std::string trimmed;
  };
  const Case cases[] = {
      {"ok\uFEFF \u3000", "ok", "ok"},
      {"ok\u0085", "ok\u0085", "ok\u0085"},
      {"\u180Eok\u180E", "\u180Eok\u180E", "\u180Eok\u180E"},
      {" \t\n\v\f\r\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F", "", ""},
      {"\u2003 mid dle \u2001", "\u2003 mid dle", "mid dle"},
      {"", "", ""},
      {"é", "é", "é"},
      // A broken sequence at the end is not white space, and is kept whole.
      {"a \xe3\x80", "a \xe3\x80", "a \xe3\x80"},
      {"\xe3\x80 a", "\xe3\x80 a", "\xe3\x80 a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim_end_js(c.text), c.end_trimmed) << c.text;
    EXPECT_EQ(js_trim(c.text), c.trimmed) << c.text;
  }
}

TEST(TrimTrailingDots, FullStopsEllipsesAndBlanks) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"Continue… ", "Continue"},
      {"...", ""},
      {"Wait. . .\u3000", "Wait"},
      {"v1.2 ok", "v1.2 ok"},
      {"a…b", "a…b"},
      {"Done.\u0085", "Done.\u0085"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_trailing_dots(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace mossbank::screen
