#include "screen/pattern_dialect.h"

#include <gtest/gtest.h>

#include <string>

#include "screen/screen_pattern.h"

namespace mossbank::screen {
namespace {

TEST(SpliceJsClasses, ReplacesOnlyTheTwoTokens) {
  EXPECT_EQ(splice_js_classes("^{js_space}{2,}x"), "^" + std::string(js_space) + "{2,}x");
  EXPECT_EQ(splice_js_classes("{js_nonspace}+"), std::string(js_nonspace) + "+");
  EXPECT_EQ(splice_js_classes("a{3}{js_other}{js_space"), "a{3}{js_other}{js_space");
  EXPECT_EQ(splice_js_classes(""), "");
}

TEST(TranslateDialect, RejectsWhatTheDialectDoesNotHave) {
  struct Case {
    const char* pattern;
    const char* error;
  };
  const Case cases[] = {
      {"(a", "an unclosed group"},
      {"a)", "an unopened group"},
      {"a(?=b)", "an unsupported group or flag"},
      {"(?<=a)b", "an unsupported group or flag"},
      {"(?<!a)b", "an unsupported group or flag"},
      {"(a)\\1", "back-references"},
      {"\\0", "back-references"},
      {"\\K", "an unknown escape"},
      {"\\Z", "an unknown escape"},
      {"\\h", "an unknown escape"},
      {"[\\b]", "an unknown escape in a class"},
      {"*a", "a repetition without an expression"},
      {"a|*", "a repetition without an expression"},
      {"(?i)*", "a repetition without an expression"},
      {"a{2", "an unclosed counted repetition"},
      {"a{x}", "a bad counted repetition"},
      {"a{3,2}", "maximum is below its minimum"},
      {"a{70000}", "above 65535"},
      {"[abc", "an unclosed class"},
      {"[z-a]", "a bad class range"},
      {"[a-\\d]", "a bad class range"},
      {"\\x{110000}", "not a Unicode scalar value"},
      {"\\u{d800}", "not a Unicode scalar value"},
      {"\\x4", "a bad hexadecimal escape"},
      {"\\u{}", "a bad hexadecimal escape"},
      {"(?)", "an empty flag group"},
      {"(?i-)", "an unfinished"},
      {"(?--i)", "a repeated flag negation"},
      {"(?R)", "an unsupported group or flag"},
      {"(?P<1a>x)", "a bad group name"},
      {"\\", "a pattern ending in a backslash"},
      {"\\é", "an escaped non-ASCII character"},
      {"\\p", "a bad Unicode class"},
      {"a\xff", "not UTF-8"},
  };
  for (const Case& c : cases) {
    auto result = translate_dialect(c.pattern);
    const DialectError* e = std::get_if<DialectError>(&result);
    ASSERT_NE(e, nullptr) << c.pattern;
    EXPECT_NE(e->text.find(c.error), std::string::npos) << c.pattern << ": " << e->text;
  }
}

TEST(TranslateDialect, BoundsHostileClasses) {
  // Each symmetric difference with a property spells both sides twice.
  std::string doubling = "[\\pL";
  for (int k = 0; k < 40; ++k) doubling += "~~\\p{Greek}";
  doubling += "]";
  auto result = translate_dialect(doubling);
  ASSERT_TRUE(std::holds_alternative<DialectError>(result));
  EXPECT_NE(std::get<DialectError>(result).text.find("too large"), std::string::npos);

  std::string deep(200, '[');
  deep += "a" + std::string(200, ']');
  result = translate_dialect(deep);
  ASSERT_TRUE(std::holds_alternative<DialectError>(result));
  EXPECT_NE(std::get<DialectError>(result).text.find("nested too deeply"), std::string::npos);

  std::string chain = "[a";
  for (int k = 0; k < 100; ++k) chain += "&&a";
  result = translate_dialect(chain + "]");
  ASSERT_TRUE(std::holds_alternative<DialectError>(result));
  EXPECT_NE(std::get<DialectError>(result).text.find("too many set operations"), std::string::npos);
}

TEST(TranslateDialect, KeepsGroupNumbersAndLiterals) {
  // Only the written groups capture; everything the translation adds is
  // non-capturing.
  static constinit const ScreenPattern many{
      "(?i)\\b(a)(?:b)(?P<n>c)\\s(?-u:\\b)(d)[\\w--\\d](e)?\\W\\B$"};
  EXPECT_EQ(many.group_count(), 4u);
  std::optional<Match> m = many.find("ABC D_!");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->group(1), "A");
  EXPECT_EQ(m->group(2), "C");
  EXPECT_EQ(m->group(3), "D");
  EXPECT_FALSE(m->group(4));

  // Characters that PCRE2 would read as syntax are plain in the output.
  auto out = translate_dialect("#a b\\-\\&\\~\\#\\ \\/");
  ASSERT_TRUE(std::holds_alternative<std::string>(out));
  static constinit const ScreenPattern punctuation{"^#a b\\-\\&\\~\\#\\ \\/$"};
  EXPECT_TRUE(punctuation.is_match("#a b-&~# /"));
}

}  // namespace
}  // namespace mossbank::screen
