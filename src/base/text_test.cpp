#include "base/text.h"

#include <string>

#include <gtest/gtest.h>

namespace mossbank {
namespace {

TEST(JsTrim, JavaScriptWhiteSpace) {
  struct Case {
    std::string_view text;
    std::string_view trimmed;
    std::string_view end_trimmed;
  };
  const Case cases[] = {
      {" \t\n\v\f\r ok \r\n", "ok", " \t\n\v\f\r ok"},
      {"\xef\xbb\xbf"
       "ok"
       "\xe3\x80\x80",
       "ok",
       "\xef\xbb\xbf"
       "ok"},                                                  // U+FEFF, U+3000
      {"ok\xc2\x85", "ok\xc2\x85", "ok\xc2\x85"},              // U+0085 stays
      {"\xe1\xa0\x8eok", "\xe1\xa0\x8eok", "\xe1\xa0\x8eok"},  // U+180E stays
      {"\xc2\xa0\xe2\x80\xa8x\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\x9f", "x", "\xc2\xa0\xe2\x80\xa8x"},
      {"\xfe ok \xfe", "\xfe ok \xfe", "\xfe ok \xfe"},  // stops at a byte that is not UTF-8
      {"ok\xfe \xe3\x80\x80", "ok\xfe", "ok\xfe"},
      {" \xe3\x80\x80 ", "", ""},
      {"", "", ""},
      {"\xe3\x80", "\xe3\x80", "\xe3\x80"},  // a cut sequence is not white space
  };
  for (const Case& c : cases) {
    EXPECT_EQ(js_trim(c.text), c.trimmed) << c.text;
    EXPECT_EQ(trim_end_js(c.text), c.end_trimmed) << c.text;
  }
}

TEST(TrimUnicodeSpace, RustWhiteSpace) {
  struct Case {
    const char* text;
    const char* trimmed;
  };
  const Case cases[] = {
      {" \t\n\v\f\r ok \r\n", "ok"},
      {"\xc2\x85ok\xc2\x85", "ok"},                                  // U+0085 is white space here
      {"\xef\xbb\xbfok\xef\xbb\xbf", "\xef\xbb\xbfok\xef\xbb\xbf"},  // U+FEFF is not
      {"\xe3\x80\x80 a b \xe2\x80\x8a", "a b"},
      {"\xfe ok", "\xfe ok"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_unicode_space(c.text), c.trimmed) << c.text;
  EXPECT_TRUE(is_unicode_space(0x85));
  EXPECT_FALSE(is_js_space(0x85));
  EXPECT_TRUE(is_js_space(0xFEFF));
  EXPECT_FALSE(is_unicode_space(0xFEFF));
}

TEST(AsciiLower, LeavesEverythingButAsciiLetters) {
  EXPECT_EQ(ascii_lower("HeLLo-Z@[\xc3\x84]"), "hello-z@[\xc3\x84]");
}

}  // namespace
}  // namespace mossbank
