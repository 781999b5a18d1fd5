// The screen readers' patterns: one dialect, each pattern compiled once.
//
// A ScreenPattern is a constant. Declare it `constinit const` at namespace
// scope (or as a function-local static): it holds only its text until first
// use, then compiles under a once-guard and keeps the compiled code for the
// life of the process (never freed, so threads that outlive main can still
// match). Any number of threads may match with one pattern at once; the
// scratch space of matching is per thread, so no caller needs a lock.
//
// Dialect (see pattern_dialect.h): leftmost-first; \s \d \w \b with Unicode
// meanings, (?-u...) for ASCII meanings and ASCII-only case folding, $ only at
// the very end (not before a final "\n") unless (?m), \x{..} and \u{..}
// escapes. A pattern text may say {js_space} and {js_nonspace}: the class
// texts below are spliced in before compiling ({js_space}{2,} is the class
// followed by {2,}). The two notations differ on purpose: \s matches U+0085
// and not U+FEFF, {js_space} the reverse.
//
// A pattern that does not compile ends the process with its failure message
// and the reason ("<message>: <reason>" on stderr, then abort). Patterns are
// constants, so that is a defect in the program, never something input does.
//
// Matching never fails: text that is not valid UTF-8, and a match that runs
// out of the engine's limits, give no match. Offsets are bytes into the text;
// a Match views the text it was found in, which must outlive it.
//
// Iteration (find_all, replace_all) follows the dialect's rule for empty
// matches: an empty match that ends where the previous match ended is not
// reported; the search moves on by one character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

namespace mossbank::screen {

// JavaScript's white-space class (WhiteSpace and LineTerminator, with
// U+FEFF; not U+0085 or U+180E) and its negation, as pattern texts.
inline constexpr std::string_view js_space =
    "[\\t\\n\\x0B\\x0C\\r \\u{a0}\\u{1680}\\u{2000}-\\u{200a}\\u{2028}\\u{2029}\\u{202f}"
    "\\u{205f}\\u{3000}\\u{feff}]";
inline constexpr std::string_view js_nonspace =
    "[^\\t\\n\\x0B\\x0C\\r \\u{a0}\\u{1680}\\u{2000}-\\u{200a}\\u{2028}\\u{2029}\\u{202f}"
    "\\u{205f}\\u{3000}\\u{feff}]";
static_assert(js_space.size() == 96 && js_nonspace.size() == 97);

// The failure message of the readers' patterns.
inline constexpr std::string_view kReaderPatternFailure = "a pattern of the TypeScript readers";

struct Span {
  size_t start = 0;
  size_t end = 0;
};

class Match {
 public:
  Match(std::string_view subject, std::vector<std::optional<Span>> groups)
      : subject_(subject), groups_(std::move(groups)) {}

  size_t start() const { return groups_[0]->start; }
  size_t end() const { return groups_[0]->end; }
  std::string_view str() const { return subject_.substr(start(), end() - start()); }

  // Group 0 is the whole match. None for a group that did not take part in
  // the match (or that the pattern does not have); an empty view for one
  // that matched nothing.
  std::optional<std::string_view> group(size_t index) const;
  std::optional<Span> span(size_t index) const;
  // The number of groups, group 0 included.
  size_t size() const { return groups_.size(); }

 private:
  std::string_view subject_;
  std::vector<std::optional<Span>> groups_;
};

class ScreenPattern {
 public:
  constexpr explicit ScreenPattern(std::string_view pattern_template,
                                   std::string_view failure_message = kReaderPatternFailure)
      : template_(pattern_template), failure_(failure_message) {}
  ScreenPattern(const ScreenPattern&) = delete;
  ScreenPattern& operator=(const ScreenPattern&) = delete;

  bool is_match(std::string_view text) const;
  // The first match at or after byte `start` (which must begin a character),
  // with its numbered groups.
  std::optional<Match> find(std::string_view text, size_t start = 0) const;
  std::vector<Match> find_all(std::string_view text) const;

  // Every match replaced by `replacement`, in which $1 / ${1} stand for a
  // group by number, $name / ${name} by name (the longest run of letters,
  // digits and _ after $, so "$1a" names a group "1a"), $$ for "$"; a group
  // that does not exist or did not match gives "". A $ that starts no
  // reference stays as it is.
  std::string replace_all(std::string_view text, std::string_view replacement) const;
  // Every match replaced by what `replacer` returns for it, taken literally.
  std::string replace_all_with(std::string_view text,
                               const std::function<std::string(const Match&)>& replacer) const;

  // The number of capturing groups (group 0 not counted); compiles.
  size_t group_count() const;
  std::string_view pattern_template() const { return template_; }

 private:
  const pcre2_real_code_8* code() const;
  void compile() const;
  void append_expansion(std::string& out, const Match& m, std::string_view replacement) const;

  std::string_view template_;
  std::string_view failure_;
  mutable std::once_flag once_;
  mutable pcre2_real_code_8* code_ = nullptr;
  mutable uint32_t groups_ = 0;
};

// Code-point and byte offsets in UTF-8 text. byte_offset_of_char gives where
// the code point with that index begins (the text's size past the end);
// char_offset_of_byte counts the code points that begin before the offset.
size_t byte_offset_of_char(std::string_view text, size_t char_index);
size_t char_offset_of_byte(std::string_view text, size_t byte_offset);

}  // namespace mossbank::screen
