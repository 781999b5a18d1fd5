#include "screen/screen_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

// Each case is one pattern against one text; `matches` is whether it is found
// anywhere in the text.
struct MeaningCase {
  const char* name;
  const ScreenPattern* pattern;
  std::string text;
  bool matches;
};

constinit const ScreenPattern js_space_only{"^{js_space}$"};
constinit const ScreenPattern js_nonspace_only{"^{js_nonspace}$"};
constinit const ScreenPattern space_only{"^\\s$"};
constinit const ScreenPattern nonspace_only{"^\\S$"};
constinit const ScreenPattern js_space_run{"{js_space}+"};
constinit const ScreenPattern space_run{"\\s+"};
constinit const ScreenPattern unicode_esc{"\\besc"};
constinit const ScreenPattern ascii_esc{"(?-u:\\b)esc"};
constinit const ScreenPattern ascii_word_inside{"(?-u:\\bCtrl\\+o:always-approve\\b)"};
constinit const ScreenPattern word_then_s{"\\bsc"};
constinit const ScreenPattern unicode_k{"(?i)k"};
constinit const ScreenPattern ascii_k{"(?i-u)k"};
constinit const ScreenPattern unicode_s{"(?i)s"};
constinit const ScreenPattern ascii_s{"(?i-u)s"};
constinit const ScreenPattern ascii_k_class{"(?i-u)[a-z]"};
constinit const ScreenPattern ascii_scoped{"(?i-u:enter){js_space}+(?i-u:submit|confirm)"};
constinit const ScreenPattern ascii_scope_ends{"x(?i-u:a)b"};
constinit const ScreenPattern unicode_negated_k{"(?i)^[^k]$"};
constinit const ScreenPattern end_a{"a$"};
constinit const ScreenPattern end_a_multi{"(?m)a$"};
constinit const ScreenPattern start_b_multi{"(?m)^b"};
constinit const ScreenPattern digit{"^\\d$"};
constinit const ScreenPattern ascii_digit{"^(?-u:\\d)$"};
constinit const ScreenPattern dot{"^.$"};
constinit const ScreenPattern dot_all{"(?s)^.$"};
constinit const ScreenPattern braille{"[\\u{2800}-\\u{28ff}]"};
constinit const ScreenPattern word_char{"^\\w$"};
constinit const ScreenPattern not_word_char{"^\\W$"};
constinit const ScreenPattern consonant{"^[a-z&&[^aeiou]]$"};
constinit const ScreenPattern word_not_digit{"^[\\w--\\d]$"};
constinit const ScreenPattern folded_consonant{"(?i)^[a-z&&[^aeiou]]$"};
constinit const ScreenPattern symmetric{"^[a-m~~h-z]$"};
constinit const ScreenPattern greek_not_alpha{"^[\\p{Greek}--α]$"};
constinit const ScreenPattern blank_not_newline{"^[^\\S\\n]$"};
constinit const ScreenPattern posix_alpha{"^[[:alpha:]]+$"};
constinit const ScreenPattern verbose{"(?x) a \\  b # comment\n c"};
constinit const ScreenPattern escaped_specials{"^\\[Image#[0-9]+\\] \\? \\$$"};
constinit const ScreenPattern literal_braces_spliced{"^{js_space}{2,}x$"};
constinit const ScreenPattern lazy_group{"^(.*?{js_nonspace}){js_space}{2,}({js_nonspace}.*)$"};
constinit const ScreenPattern swap_greed{"(?U)a+"};
constinit const ScreenPattern repeated_repeat{"^(?:ab)+*$"};

TEST(ScreenPatternMeanings, EachCase) {
  const std::vector<MeaningCase> cases = {
      // White space: the two notations differ on U+0085 and U+FEFF; neither
      // has U+180E.
      {"js_space U+0085", &js_space_only, "\u0085", false},
      {"js_space U+FEFF", &js_space_only, "\uFEFF", true},
      {"js_space U+180E", &js_space_only, "\u180E", false},
      {"js_space U+3000", &js_space_only, "\u3000", true},
      {"js_nonspace U+0085", &js_nonspace_only, "\u0085", true},
      {"js_nonspace U+FEFF", &js_nonspace_only, "\uFEFF", false},
      {"\\s U+0085", &space_only, "\u0085", true},
      {"\\s U+FEFF", &space_only, "\uFEFF", false},
      {"\\s U+180E", &space_only, "\u180E", false},
      {"\\s U+2028", &space_only, "\u2028", true},
      {"\\S U+180E", &nonspace_only, "\u180E", true},
      {"\\S U+0085", &nonspace_only, "\u0085", false},
      {"{js_space}+ U+0085", &js_space_run, "a\u0085b", false},
      {"\\s+ U+0085", &space_run, "a\u0085b", true},
      // Word boundaries: é is a word character, unless ASCII meaning is asked.
      {"\\b in éesc", &unicode_esc, "éesc", false},
      {"\\b before esc", &unicode_esc, "é esc", true},
      {"\\b at the start", &unicode_esc, "esc", true},
      {"(?-u:\\b) in éesc", &ascii_esc, "éesc", true},
      {"(?-u:\\b) in xesc", &ascii_esc, "xesc", false},
      {"(?-u: ... \\b) inside the group", &ascii_word_inside, "éCtrl+o:always-approveé", true},
      {"(?-u: ... \\b) word after", &ascii_word_inside, "Ctrl+o:always-approvex", false},
      // A combining mark is a word character.
      {"\\b after a combining mark", &word_then_s, "e\u0301sc", false},
      {"\\w of a combining mark", &word_char, "\u0301", true},
      {"\\w of a connector", &word_char, "_", true},
      {"\\w of a Hangul syllable", &word_char, "한", true},
      {"\\W of a dash", &not_word_char, "-", true},
      {"\\W of a letter", &not_word_char, "é", false},
      // Case folding: Unicode under (?i), ASCII only under (?i-u).
      {"(?i)k with U+212A", &unicode_k, "\u212A", true},
      {"(?i)k with K", &unicode_k, "K", true},
      {"(?i-u)k with U+212A", &ascii_k, "\u212A", false},
      {"(?i-u)k with K", &ascii_k, "K", true},
      {"(?i)s with U+017F", &unicode_s, "\u017F", true},
      {"(?i-u)s with U+017F", &ascii_s, "\u017F", false},
      {"(?i-u)s with S", &ascii_s, "S", true},
      {"(?i-u)[a-z] with K", &ascii_k_class, "K", true},
      {"(?i-u)[a-z] with U+212A", &ascii_k_class, "\u212A", false},
      {"(?i-u:...) groups", &ascii_scoped, "ENTER\u3000Confirm", true},
      {"(?i-u:...) groups, other word", &ascii_scoped, "enter send", false},
      {"(?i-u:...) ends with its group", &ascii_scope_ends, "xAb", true},
      {"(?i-u:...) ends with its group, case kept after", &ascii_scope_ends, "xaB", false},
      {"(?i)[^k] with K", &unicode_negated_k, "K", false},
      {"(?i)[^k] with U+212A", &unicode_negated_k, "\u212A", false},
      {"(?i)[^k] with j", &unicode_negated_k, "j", true},
      // $ is the very end, not before a final newline, unless (?m).
      {"a$ before a final newline", &end_a, "a\n", false},
      {"a$ at the end", &end_a, "ba", true},
      {"(?m)a$ before a newline", &end_a_multi, "a\nb", true},
      {"(?m)a$ before a final newline", &end_a_multi, "a\n", true},
      {"(?m)^b after a newline", &start_b_multi, "a\nb", true},
      {"(?m)^b not mid-row", &start_b_multi, "ab", false},
      // Digits and dots.
      {"\\d of an Arabic-Indic digit", &digit, "\u0663", true},
      {"(?-u:\\d) of an Arabic-Indic digit", &ascii_digit, "\u0663", false},
      {"(?-u:\\d) of 7", &ascii_digit, "7", true},
      {". of a newline", &dot, "\n", false},
      {". of a carriage return", &dot, "\r", true},
      {". of an astral character", &dot, "\U0001F600", true},
      {"(?s). of a newline", &dot_all, "\n", true},
      {"\\u{...} range", &braille, "x\u2847y", true},
      {"\\u{...} range, outside", &braille, "x\u2900y", false},
      // Classes with nesting and set operations.
      {"[a-z&&[^aeiou]] b", &consonant, "b", true},
      {"[a-z&&[^aeiou]] a", &consonant, "a", false},
      {"(?i)[a-z&&[^aeiou]] B", &folded_consonant, "B", true},
      {"(?i)[a-z&&[^aeiou]] E", &folded_consonant, "E", false},
      {"(?i)[a-z&&[^aeiou]] U+212A", &folded_consonant, "\u212A", true},
      {"[a-m~~h-z] b", &symmetric, "b", true},
      {"[a-m~~h-z] j", &symmetric, "j", false},
      {"[a-m~~h-z] y", &symmetric, "y", true},
      {"[\\p{Greek}--α] β", &greek_not_alpha, "β", true},
      {"[\\p{Greek}--α] α", &greek_not_alpha, "α", false},
      {"[\\w--\\d] x", &word_not_digit, "x", true},
      {"[\\w--\\d] 5", &word_not_digit, "5", false},
      {"[^\\S\\n] blank", &blank_not_newline, " ", true},
      {"[^\\S\\n] newline", &blank_not_newline, "\n", false},
      {"[^\\S\\n] letter", &blank_not_newline, "x", false},
      {"[[:alpha:]] ASCII", &posix_alpha, "abcXYZ", true},
      {"[[:alpha:]] not é", &posix_alpha, "é", false},
      // Syntax that PCRE2 spells differently.
      {"(?x) skips blanks and comments", &verbose, "a bc", true},
      {"(?x) escaped blank is kept", &verbose, "abc", false},
      {"escaped specials", &escaped_specials, "[Image#12] ? $", true},
      {"{2,} after a spliced class", &literal_braces_spliced, "  x", true},
      {"{2,} after a spliced class, one blank", &literal_braces_spliced, " x", false},
      {"repetition of a repetition", &repeated_repeat, "ababab", true},
  };
  for (const MeaningCase& c : cases) {
    EXPECT_EQ(c.pattern->is_match(c.text), c.matches) << c.name;
    EXPECT_EQ(c.pattern->find(c.text).has_value(), c.matches) << c.name;
  }
}

TEST(ScreenPatternGroups, UnsetGroupDiffersFromEmptyGroup) {
  static constinit const ScreenPattern optional_group{"(a)?b"};
  static constinit const ScreenPattern empty_group{"(a?)b"};
  std::optional<Match> m = optional_group.find("xb");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->size(), 2u);
  EXPECT_FALSE(m->group(1).has_value());
  EXPECT_FALSE(m->span(1).has_value());
  EXPECT_EQ(m->group(0), "b");
  m = empty_group.find("xb");
  ASSERT_TRUE(m);
  ASSERT_TRUE(m->group(1).has_value());
  EXPECT_EQ(*m->group(1), "");
  EXPECT_EQ(m->span(1)->start, 1u);
  EXPECT_FALSE(m->group(2).has_value());  // no such group
}

TEST(ScreenPatternGroups, NumberedGroupsWithOffsets) {
  std::string text = "abc  ❯ Yes, proceed";
  std::optional<Match> m = lazy_group.find(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->group(1), "abc");
  EXPECT_EQ(m->group(2), "❯ Yes, proceed");
  EXPECT_EQ(m->span(2)->start, 5u);
  EXPECT_EQ(m->start(), 0u);
  EXPECT_EQ(m->end(), text.size());
  EXPECT_EQ(lazy_group.group_count(), 2u);
}

TEST(ScreenPatternGroups, FindFromAnOffsetSeesTheTextBefore) {
  static constinit const ScreenPattern word_start{"\\bb"};
  // At offset 1 the "b" follows "a": no boundary there.
  std::optional<Match> m = word_start.find("ab b", 1);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->start(), 3u);
  EXPECT_FALSE(word_start.find("ab", 3).has_value());  // past the end
  EXPECT_FALSE(word_start.find("éb", 1).has_value());  // inside a character
}

TEST(ScreenPatternIteration, EmptyMatchesStepPastTheLastMatch) {
  static constinit const ScreenPattern a_star{"a*"};
  static constinit const ScreenPattern x_star{"x*"};
  std::vector<Match> all = a_star.find_all("baaa");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].start(), 0u);
  EXPECT_EQ(all[0].end(), 0u);
  EXPECT_EQ(all[1].str(), "aaa");
  EXPECT_EQ(a_star.replace_all("baaa", "-"), "-b-");
  EXPECT_EQ(a_star.replace_all("aaa", "-"), "-");
  EXPECT_EQ(x_star.replace_all("abc", "-"), "-a-b-c-");
  // Steps by whole characters.
  EXPECT_EQ(x_star.replace_all("é❯", "-"), "-é-❯-");
  EXPECT_EQ(x_star.replace_all("", "-"), "-");
  EXPECT_EQ(swap_greed.find_all("aaa").size(), 3u);
}

TEST(ScreenPatternReplace, DollarReferences) {
  static constinit const ScreenPattern pair{"(\\w+) (\\w+)"};
  static constinit const ScreenPattern named{"(?P<first>\\w+)-(?<second>\\w+)"};
  static constinit const ScreenPattern maybe{"(a)|(b)"};
  struct Case {
    const ScreenPattern* pattern;
    const char* text;
    const char* replacement;
    const char* expected;
  };
  const Case cases[] = {
      {&pair, "hello world", "$2 $1", "world hello"},
      {&pair, "hello world", "${2}x", "worldx"},
      {&pair, "hello world", "$2x", ""},  // the group "2x" does not exist
      {&pair, "hello world", "$$1 costs $", "$1 costs $"},
      {&pair, "hello world", "${1", "${1"},
      {&pair, "hello world", "$-", "$-"},
      {&pair, "hello world", "$9", ""},
      {&pair, "hello world", "$0!", "hello world!"},
      {&named, "ab-cd", "$second/$first", "cd/ab"},
      {&named, "ab-cd", "${second}_", "cd_"},
      {&maybe, "ab", "[$1|$2]", "[a|][|b]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.pattern->replace_all(c.text, c.replacement), c.expected)
        << c.text << " / " << c.replacement;
  }
}

TEST(ScreenPatternReplace, Callback) {
  static constinit const ScreenPattern number{"[0-9]+"};
  std::string out = number.replace_all_with("a1b22c", [](const Match& m) {
    return "<" + std::string(m.str()) + "$1>";  // taken literally
  });
  EXPECT_EQ(out, "a<1$1>b<22$1>c");
  EXPECT_EQ(number.replace_all_with("none", [](const Match&) { return std::string("!"); }), "none");
}

TEST(ScreenPatternInput, InvalidUtf8NeverMatches) {
  static constinit const ScreenPattern anything{"x"};
  const std::string bad = "x\xff";
  EXPECT_FALSE(anything.is_match(bad));
  EXPECT_FALSE(anything.find(bad).has_value());
  EXPECT_TRUE(anything.find_all(bad).empty());
  EXPECT_EQ(anything.replace_all(bad, "y"), bad);
}

TEST(ScreenPatternInput, EmptyTextAndEmptyView) {
  static constinit const ScreenPattern empty_only{"^$"};
  EXPECT_TRUE(empty_only.is_match(""));
  EXPECT_TRUE(empty_only.is_match(std::string_view()));
  EXPECT_FALSE(empty_only.is_match("\n"));
}

TEST(ScreenPatternFailure, AbortsWithItsMessage) {
  static constinit const ScreenPattern unclosed{"(abc"};
  static constinit const ScreenPattern lookahead{"a(?=b)", "Grok Build's second name"};
  EXPECT_DEATH(unclosed.is_match("abc"), "a pattern of the TypeScript readers: an unclosed group");
  EXPECT_DEATH(lookahead.is_match("ab"), "Grok Build's second name: ");
}

TEST(Offsets, CodePointsAndBytes) {
  const std::string text = "aé❯😀b";  // 1, 2, 3, 4, 1 bytes
  struct Case {
    size_t chars;
    size_t bytes;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 11}};
  for (const Case& c : cases) {
    EXPECT_EQ(byte_offset_of_char(text, c.chars), c.bytes) << c.chars;
    EXPECT_EQ(char_offset_of_byte(text, c.bytes), c.chars) << c.bytes;
  }
  EXPECT_EQ(byte_offset_of_char(text, 99), text.size());
  EXPECT_EQ(char_offset_of_byte(text, 99), 5u);
  EXPECT_EQ(char_offset_of_byte(text, 2), 2u);  // inside é: é begins before it

  // Long enough to be counted a word at a time, with characters across the
  // words' edges and a stray continuation byte: every offset agrees with a
  // count of the bytes that are no continuation byte.
  const std::string long_text = "ab❯cdé😀efgh\x80ijk日本語lmnop" + std::string(13, ' ') + "├─";
  size_t lead_bytes = 0;
  for (size_t k = 0; k <= long_text.size(); ++k) {
    EXPECT_EQ(char_offset_of_byte(long_text, k), lead_bytes) << k;
    if (k < long_text.size() && (static_cast<unsigned char>(long_text[k]) & 0xC0) != 0x80)
      ++lead_bytes;
  }
}

}  // namespace
}  // namespace mossbank::screen
