#include "screen/pattern_dialect.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "base/utf8.h"
#include "screen/screen_pattern.h"

namespace mossbank::screen {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
// Bounds that keep hostile or broken pattern texts from exhausting the stack
// or memory: set operations spelled with look-ahead double in size per level.
constexpr int kMaxClassDepth = 64;
constexpr size_t kMaxOutput = 256 * 1024;

struct Flags {
  bool caseless = false;    // i
  bool multi_line = false;  // m
  bool dot_all = false;     // s
  bool verbose = false;     // x
  bool swap_greed = false;  // U
  bool unicode = true;      // u
  // PCRE2's own caseless option is on exactly when Unicode case folding is
  // wanted; ASCII-only folding is spelled out as [kK].
  bool pcre_caseless() const { return caseless && unicode; }
};

using Ranges = std::vector<std::pair<char32_t, char32_t>>;

Ranges normalized(Ranges r) {
  std::sort(r.begin(), r.end());
  Ranges out;
  for (const auto& [lo, hi] : r) {
    if (!out.empty() && lo <= out.back().second + 1) {
      out.back().second = std::max(out.back().second, hi);
    } else {
      out.emplace_back(lo, hi);
    }
  }
  return out;
}

Ranges complement(const Ranges& sorted) {
  Ranges out;
  char32_t next = 0;
  for (const auto& [lo, hi] : sorted) {
    if (lo > next) out.emplace_back(next, lo - 1);
    next = hi + 1;
  }
  if (next <= kMaxCodePoint) out.emplace_back(next, kMaxCodePoint);
  return out;
}

// Adds the other ASCII case of every ASCII letter in the ranges.
Ranges ascii_case_closed(Ranges r) {
  const size_t n = r.size();
  for (size_t k = 0; k < n; ++k) {
    const auto [lo, hi] = r[k];
    char32_t a = std::max<char32_t>(lo, 'a'), b = std::min<char32_t>(hi, 'z');
    if (a <= b) r.emplace_back(a - 32, b - 32);
    a = std::max<char32_t>(lo, 'A');
    b = std::min<char32_t>(hi, 'Z');
    if (a <= b) r.emplace_back(a + 32, b + 32);
  }
  return normalized(std::move(r));
}

// A character class as the dialect builds it. A Set is what one PCRE2 class
// can hold; the other kinds are spelled with look-ahead when they cannot be
// folded into one.
struct ClassNode {
  enum class Kind { Set, Union, Negate, Intersect, Difference, SymmetricDifference };
  Kind kind = Kind::Set;
  Ranges ranges;                   // Set: code points (normalized)
  std::vector<std::string> props;  // Set: \p{..} / \P{..} items
  // Set: equal to its own case closure, so its complement may be computed
  // even where PCRE2 folds case (the builtin classes).
  bool case_closed = false;
  std::vector<ClassNode> kids;
  int depth = 0;  // of nested operations

  static ClassNode set(Ranges r, std::vector<std::string> p = {}, bool closed = false) {
    ClassNode n;
    n.ranges = normalized(std::move(r));
    n.props = std::move(p);
    n.case_closed = closed;
    return n;
  }
  static ClassNode of(Kind k, std::vector<ClassNode> kids) {
    ClassNode n;
    n.kind = k;
    for (const ClassNode& kid : kids) n.depth = std::max(n.depth, kid.depth + 1);
    n.kids = std::move(kids);
    return n;
  }
};

const Ranges& unicode_space_ranges() {
  static const Ranges r = {{0x09, 0x0D},     {0x20, 0x20},     {0x85, 0x85},     {0xA0, 0xA0},
                           {0x1680, 0x1680}, {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
                           {0x205F, 0x205F}, {0x3000, 0x3000}};
  return r;
}

ClassNode space_class(bool unicode) {
  if (unicode) return ClassNode::set(unicode_space_ranges(), {}, true);
  return ClassNode::set({{0x09, 0x0D}, {0x20, 0x20}}, {}, true);
}

ClassNode digit_class(bool unicode) {
  if (unicode) return ClassNode::set({}, {"\\p{Nd}"}, true);
  return ClassNode::set({{'0', '9'}}, {}, true);
}

ClassNode word_class(bool unicode) {
  if (unicode) {
    return ClassNode::set(
        {}, {"\\p{Alphabetic}", "\\p{M}", "\\p{Nd}", "\\p{Pc}", "\\p{Join_Control}"}, true);
  }
  return ClassNode::set({{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}, {}, true);
}

ClassNode negated(ClassNode n) { return ClassNode::of(ClassNode::Kind::Negate, {std::move(n)}); }

void append_hex(std::string& out, char32_t cp) {
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kLowerHexDigits[cp & 0xF];
    cp >>= 4;
  } while (cp != 0);
  out += "\\x{";
  while (n > 0) out += buf[--n];
  out += '}';
}

bool is_ascii_alnum(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// One code point as an item inside a PCRE2 class.
void append_class_char(std::string& out, char32_t c) {
  if (is_ascii_alnum(c)) {
    out += static_cast<char>(c);
  } else {
    append_hex(out, c);
  }
}

// The folded form of a node when it fits one PCRE2 class, else none.
std::optional<ClassNode> as_set(const ClassNode& n, bool pcre_caseless) {
  using Kind = ClassNode::Kind;
  switch (n.kind) {
    case Kind::Set:
      return n;
    case Kind::Union: {
      Ranges r;
      std::vector<std::string> props;
      bool closed = true;
      for (const ClassNode& k : n.kids) {
        std::optional<ClassNode> s = as_set(k, pcre_caseless);
        if (!s) return std::nullopt;
        r.insert(r.end(), s->ranges.begin(), s->ranges.end());
        props.insert(props.end(), s->props.begin(), s->props.end());
        closed = closed && s->case_closed;
      }
      return ClassNode::set(std::move(r), std::move(props), closed);
    }
    case Kind::Negate: {
      const ClassNode& k = n.kids[0];
      if (k.kind == Kind::Negate) return as_set(k.kids[0], pcre_caseless);
      std::optional<ClassNode> s = as_set(k, pcre_caseless);
      if (!s) return std::nullopt;
      if (s->props.empty() && (s->case_closed || !pcre_caseless)) {
        return ClassNode::set(complement(s->ranges), {}, s->case_closed);
      }
      if (s->ranges.empty() && s->props.size() == 1) {
        std::string p = s->props[0];
        p[1] = p[1] == 'p' ? 'P' : 'p';
        return ClassNode::set({}, {std::move(p)}, s->case_closed);
      }
      return std::nullopt;
    }
    case Kind::Intersect:
    case Kind::Difference:
    case Kind::SymmetricDifference: {
      std::optional<ClassNode> a = as_set(n.kids[0], pcre_caseless);
      std::optional<ClassNode> b = as_set(n.kids[1], pcre_caseless);
      if (!a || !b || !a->props.empty() || !b->props.empty()) return std::nullopt;
      const bool closed = a->case_closed && b->case_closed;
      // Where PCRE2 folds case, it would fold the result again: only sets
      // that are their own case closure can be combined here.
      if (pcre_caseless && !closed) return std::nullopt;
      auto intersect = [](const Ranges& x, const Ranges& y) {
        Ranges u = complement(x);
        Ranges cy = complement(y);
        u.insert(u.end(), cy.begin(), cy.end());
        return complement(normalized(std::move(u)));
      };
      Ranges r;
      if (n.kind == Kind::Intersect) {
        r = intersect(a->ranges, b->ranges);
      } else if (n.kind == Kind::Difference) {
        r = intersect(a->ranges, complement(b->ranges));
      } else {
        r = intersect(a->ranges, complement(b->ranges));
        Ranges other = intersect(b->ranges, complement(a->ranges));
        r.insert(r.end(), other.begin(), other.end());
      }
      return ClassNode::set(std::move(r), {}, closed);
    }
  }
  return std::nullopt;
}

std::string set_items(const ClassNode& s) {
  std::string out;
  for (const auto& [lo, hi] : s.ranges) {
    append_class_char(out, lo);
    if (hi == lo) continue;
    if (hi != lo + 1) out += '-';
    append_class_char(out, hi);
  }
  for (const std::string& p : s.props) out += p;
  return out;
}

bool set_is_empty(const ClassNode& s) { return s.ranges.empty() && s.props.empty(); }

constexpr std::string_view kAnyChar = "(?s:.)";
constexpr std::string_view kNever = "(?!)";

// PCRE2 text that matches exactly one character of the class.
std::string emit_class(const ClassNode& n, bool pcre_caseless) {
  using Kind = ClassNode::Kind;
  if (n.kind == Kind::Negate) {
    if (std::optional<ClassNode> s = as_set(n.kids[0], pcre_caseless)) {
      if (set_is_empty(*s)) return std::string(kAnyChar);
      return "[^" + set_items(*s) + "]";
    }
    return "(?:(?!" + emit_class(n.kids[0], pcre_caseless) + ")" + std::string(kAnyChar) + ")";
  }
  if (std::optional<ClassNode> s = as_set(n, pcre_caseless)) {
    if (set_is_empty(*s)) return std::string(kNever);
    return "[" + set_items(*s) + "]";
  }
  switch (n.kind) {
    case Kind::Union: {
      ClassNode flat = ClassNode::set({});
      std::vector<std::string> others;
      for (const ClassNode& k : n.kids) {
        if (std::optional<ClassNode> s = as_set(k, pcre_caseless)) {
          flat.ranges.insert(flat.ranges.end(), s->ranges.begin(), s->ranges.end());
          flat.props.insert(flat.props.end(), s->props.begin(), s->props.end());
        } else {
          others.push_back(emit_class(k, pcre_caseless));
          if (others.back().size() > kMaxOutput) return others.back();
        }
      }
      flat.ranges = normalized(std::move(flat.ranges));
      std::string out = "(?:";
      bool first = true;
      if (!set_is_empty(flat)) {
        out += "[" + set_items(flat) + "]";
        first = false;
      }
      for (const std::string& o : others) {
        if (!first) out += '|';
        out += o;
        first = false;
      }
      return out + ")";
    }
    case Kind::Intersect:
    case Kind::Difference:
    case Kind::SymmetricDifference: {
      std::string a = emit_class(n.kids[0], pcre_caseless);
      if (a.size() > kMaxOutput) return a;  // the caller gives up
      std::string b = emit_class(n.kids[1], pcre_caseless);
      if (b.size() > kMaxOutput) return b;
      if (n.kind == Kind::Intersect) return "(?:(?=" + a + ")" + b + ")";
      if (n.kind == Kind::Difference) return "(?:(?!" + b + ")" + a + ")";
      return "(?:(?!" + b + ")" + a + "|(?!" + a + ")" + b + ")";
    }
    case Kind::Set:
    case Kind::Negate:
      break;
  }
  return std::string(kNever);
}

std::optional<ClassNode> posix_class(std::string_view name) {
  struct Entry {
    std::string_view name;
    Ranges ranges;
  };
  static const Entry table[] = {
      {"alnum", {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}},
      {"alpha", {{'A', 'Z'}, {'a', 'z'}}},
      {"ascii", {{0x00, 0x7F}}},
      {"blank", {{'\t', '\t'}, {' ', ' '}}},
      {"cntrl", {{0x00, 0x1F}, {0x7F, 0x7F}}},
      {"digit", {{'0', '9'}}},
      {"graph", {{'!', '~'}}},
      {"lower", {{'a', 'z'}}},
      {"print", {{' ', '~'}}},
      {"punct", {{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}},
      {"space", {{'\t', '\r'}, {' ', ' '}}},
      {"upper", {{'A', 'Z'}}},
      {"word", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}},
      {"xdigit", {{'0', '9'}, {'A', 'F'}, {'a', 'f'}}},
  };
  for (const Entry& e : table) {
    if (e.name == name) return ClassNode::set(e.ranges);
  }
  return std::nullopt;
}

bool is_pattern_white_space(char32_t c) {
  for (const auto& [lo, hi] : unicode_space_ranges()) {
    if (c >= lo && c <= hi) return true;
  }
  return false;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Translator {
 public:
  explicit Translator(std::string_view pattern) : p_(pattern) {}

  std::variant<std::string, DialectError> run() {
    if (!is_valid_utf8(p_)) return DialectError{"the pattern is not UTF-8", 0};
    while (!failed() && pos_ < p_.size()) {
      step();
      if (out_.size() > kMaxOutput) fail("a pattern too large once translated");
    }
    if (!failed() && !groups_.empty()) fail("an unclosed group", groups_.back().pattern_offset);
    if (failed()) return std::move(*error_);
    return std::move(out_);
  }

 private:
  enum class AtomKind { None, Plain, Quantified, Assertion };

  struct OpenGroup {
    Flags saved;
    size_t out_start;
    size_t pattern_offset;
  };

  bool failed() const { return error_.has_value(); }
  void fail(std::string text, size_t offset) {
    if (!error_) error_ = DialectError{std::move(text), offset};
  }
  void fail(std::string text) { fail(std::move(text), pos_); }

  bool at_end() const { return pos_ >= p_.size(); }
  char peek(size_t ahead = 0) const { return pos_ + ahead < p_.size() ? p_[pos_ + ahead] : '\0'; }
  bool looking_at(std::string_view s) const { return p_.substr(pos_, s.size()) == s; }
  char32_t next_char() { return next_code_point(p_, pos_); }

  // Under (?x): blanks and # comments between tokens are not part of the pattern.
  void skip_verbose_space() {
    if (!flags_.verbose) return;
    while (!at_end()) {
      if (peek() == '#') {
        while (!at_end() && peek() != '\n') ++pos_;
        continue;
      }
      size_t at = pos_;
      char32_t c = next_char();
      if (!is_pattern_white_space(c)) {
        pos_ = at;
        return;
      }
    }
  }

  void begin_atom(AtomKind kind) {
    atom_start_ = out_.size();
    atom_ = kind;
  }

  void emit_atom(std::string_view text, AtomKind kind = AtomKind::Plain) {
    begin_atom(kind);
    out_ += text;
  }

  void emit_literal(char32_t c) {
    begin_atom(AtomKind::Plain);
    if (flags_.caseless && !flags_.unicode && c < 0x80 &&
        ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
      char lower = static_cast<char>(c | 0x20);
      out_ += '[';
      out_ += lower;
      out_ += static_cast<char>(lower - 32);
      out_ += ']';
      return;
    }
    if (is_ascii_alnum(c) || c == ' ' || c >= 0x80) {
      append_utf8(out_, c);
    } else if (c < 0x20 || c == 0x7F) {
      append_hex(out_, c);
    } else {
      out_ += '\\';
      out_ += static_cast<char>(c);
    }
  }

  void emit_class_atom(ClassNode node) {
    if (flags_.caseless && !flags_.unicode) node = case_fold_ascii(std::move(node));
    emit_atom(emit_class(node, flags_.pcre_caseless()));
  }

  static ClassNode case_fold_ascii(ClassNode n) {
    if (n.kind == ClassNode::Kind::Set) {
      n.ranges = ascii_case_closed(std::move(n.ranges));
      return n;
    }
    for (ClassNode& k : n.kids) k = case_fold_ascii(std::move(k));
    return n;
  }

  std::string word_boundary(bool unicode, bool at_start, bool at_end) {
    std::string w = emit_class(word_class(unicode), false);
    std::string before_word = "(?<=" + w + ")", before_other = "(?<!" + w + ")";
    std::string after_word = "(?=" + w + ")", after_other = "(?!" + w + ")";
    // One look-behind decides which look-ahead must hold.
    if (at_start && at_end) return "(?" + before_word + after_other + "|" + after_word + ")";
    if (at_start) return "(?:" + before_other + after_word + ")";
    return "(?:" + before_word + after_other + ")";
  }

  std::string not_word_boundary(bool unicode) {
    std::string w = emit_class(word_class(unicode), false);
    return "(?(?<=" + w + ")(?=" + w + ")|(?!" + w + "))";
  }

  void step() {
    skip_verbose_space();
    if (at_end()) return;
    const char c = peek();
    switch (c) {
      case '(':
        open_group();
        return;
      case ')':
        close_group();
        return;
      case '|':
        ++pos_;
        out_ += '|';
        atom_ = AtomKind::None;
        return;
      case '*':
      case '+':
      case '?':
      case '{':
        quantifier();
        return;
      case '^':
        ++pos_;
        emit_atom(flags_.multi_line ? "(?<![^\\n])" : "^", AtomKind::Assertion);
        return;
      case '$':
        ++pos_;
        emit_atom(flags_.multi_line ? "(?![^\\n])" : "$", AtomKind::Assertion);
        return;
      case '.':
        ++pos_;
        emit_atom(flags_.dot_all ? kAnyChar : std::string_view("."));
        return;
      case '[': {
        ++pos_;
        std::optional<ClassNode> node = parse_class(0);
        if (node) emit_class_atom(std::move(*node));
        return;
      }
      case '\\':
        escape();
        return;
      default:
        emit_literal(next_char());
        return;
    }
  }

  std::optional<Flags> parse_flags(Flags f, char& terminator) {
    bool negate = false, any = false, dangling = false;
    while (!at_end()) {
      char ch = p_[pos_++];
      if (ch == ')' || ch == ':') {
        if (dangling) break;
        if (!any) {
          fail("an empty flag group", pos_ - 1);
          return std::nullopt;
        }
        terminator = ch;
        return f;
      }
      bool on = !negate;
      switch (ch) {
        case '-':
          if (negate) {
            fail("a repeated flag negation", pos_ - 1);
            return std::nullopt;
          }
          negate = true;
          dangling = true;
          continue;
        case 'i':
          f.caseless = on;
          break;
        case 'm':
          f.multi_line = on;
          break;
        case 's':
          f.dot_all = on;
          break;
        case 'x':
          f.verbose = on;
          break;
        case 'U':
          f.swap_greed = on;
          break;
        case 'u':
          f.unicode = on;
          break;
        default:
          fail("an unsupported group or flag", pos_ - 1);
          return std::nullopt;
      }
      any = true;
      dangling = false;
    }
    fail("an unfinished flag group");
    return std::nullopt;
  }

  void open_group() {
    const size_t start = pos_;
    ++pos_;
    OpenGroup g{flags_, out_.size(), start};
    if (peek() != '?') {
      groups_.push_back(g);
      out_ += '(';
      atom_ = AtomKind::None;
      return;
    }
    ++pos_;
    if (peek() == 'P' && peek(1) == '<') ++pos_;
    if (peek() == '<' && peek(1) != '=' && peek(1) != '!') {
      ++pos_;
      size_t name_start = pos_;
      while (!at_end() && peek() != '>') ++pos_;
      std::string_view name = p_.substr(name_start, pos_ - name_start);
      if (at_end() || name.empty() ||
          !(name[0] == '_' || std::isalpha(static_cast<unsigned char>(name[0])))) {
        fail("a bad group name", name_start);
        return;
      }
      for (char ch : name) {
        if (!(ch == '_' || std::isalnum(static_cast<unsigned char>(ch)))) {
          fail("a bad group name", name_start);
          return;
        }
      }
      ++pos_;
      groups_.push_back(g);
      out_ += "(?<";
      out_ += name;
      out_ += '>';
      atom_ = AtomKind::None;
      return;
    }
    if (peek() == ':') {
      ++pos_;
      groups_.push_back(g);
      out_ += "(?:";
      atom_ = AtomKind::None;
      return;
    }
    char terminator = 0;
    std::optional<Flags> f = parse_flags(flags_, terminator);
    if (!f) return;
    const bool was = flags_.pcre_caseless();
    const bool now = f->pcre_caseless();
    if (terminator == ')') {
      // Applies to the rest of the enclosing group, as in PCRE2.
      flags_ = *f;
      if (was != now) out_ += now ? "(?i)" : "(?-i)";
      atom_ = AtomKind::None;
      return;
    }
    groups_.push_back(g);
    flags_ = *f;
    out_ += was == now ? "(?:" : (now ? "(?i:" : "(?-i:");
    atom_ = AtomKind::None;
  }

  void close_group() {
    if (groups_.empty()) {
      fail("an unopened group");
      return;
    }
    ++pos_;
    OpenGroup g = groups_.back();
    groups_.pop_back();
    flags_ = g.saved;
    out_ += ')';
    atom_start_ = g.out_start;
    atom_ = AtomKind::Plain;
  }

  std::optional<uint32_t> parse_decimal() {
    size_t start = pos_;
    uint64_t v = 0;
    while (!at_end() && std::isdigit(static_cast<unsigned char>(peek()))) {
      v = v * 10 + static_cast<uint64_t>(peek() - '0');
      if (v > 65535) {
        fail("a repetition count above 65535", start);
        return std::nullopt;
      }
      ++pos_;
    }
    if (pos_ == start) return std::nullopt;
    return static_cast<uint32_t>(v);
  }

  void quantifier() {
    const size_t start = pos_;
    if (atom_ == AtomKind::None) {
      fail("a repetition without an expression");
      return;
    }
    std::string q;
    const char c = p_[pos_++];
    if (c == '{') {
      skip_verbose_space();
      std::optional<uint32_t> min = parse_decimal();
      if (failed()) return;
      if (!min) {
        fail("a bad counted repetition", start);
        return;
      }
      skip_verbose_space();
      q = "{" + std::to_string(*min);
      if (peek() == ',') {
        ++pos_;
        skip_verbose_space();
        q += ',';
        std::optional<uint32_t> max = parse_decimal();
        if (failed()) return;
        if (max) {
          if (*max < *min) {
            fail("a counted repetition whose maximum is below its minimum", start);
            return;
          }
          q += std::to_string(*max);
        }
        skip_verbose_space();
      }
      if (peek() != '}') {
        fail("an unclosed counted repetition", start);
        return;
      }
      ++pos_;
      q += '}';
    } else {
      q = c;
    }
    bool lazy = false;
    if (peek() == '?') {
      ++pos_;
      lazy = true;
    }
    if (flags_.swap_greed) lazy = !lazy;
    if (atom_ == AtomKind::Quantified || atom_ == AtomKind::Assertion) {
      out_.insert(atom_start_, "(?:");
      out_ += ')';
    }
    out_ += q;
    if (lazy) out_ += '?';
    atom_ = AtomKind::Quantified;
  }

  // \x7F, \x{..}, \u007F, \u{..}, \U0000007F, \U{..}; pos_ is after the letter.
  std::optional<char32_t> code_point_escape(char letter) {
    const size_t start = pos_ - 2;
    uint64_t v = 0;
    if (peek() == '{') {
      ++pos_;
      size_t digits = 0;
      while (!at_end() && peek() != '}') {
        int h = hex_value(peek());
        if (h < 0 || ++digits > 8) {
          fail("a bad hexadecimal escape", start);
          return std::nullopt;
        }
        v = v * 16 + static_cast<uint64_t>(h);
        ++pos_;
      }
      if (at_end() || digits == 0) {
        fail("a bad hexadecimal escape", start);
        return std::nullopt;
      }
      ++pos_;
    } else {
      const size_t need = letter == 'x' ? 2 : letter == 'u' ? 4 : 8;
      for (size_t k = 0; k < need; ++k) {
        int h = hex_value(peek());
        if (h < 0) {
          fail("a bad hexadecimal escape", start);
          return std::nullopt;
        }
        v = v * 16 + static_cast<uint64_t>(h);
        ++pos_;
      }
    }
    if (v > kMaxCodePoint || (v >= 0xD800 && v <= 0xDFFF)) {
      fail("an escape that is not a Unicode scalar value", start);
      return std::nullopt;
    }
    return static_cast<char32_t>(v);
  }

  std::optional<char32_t> simple_escape(char letter) {
    switch (letter) {
      case 'a':
        return 0x07;
      case 'f':
        return 0x0C;
      case 't':
        return 0x09;
      case 'n':
        return 0x0A;
      case 'r':
        return 0x0D;
      case 'v':
        return 0x0B;
      default:
        return std::nullopt;
    }
  }

  std::optional<std::string> property_escape(char letter) {
    const size_t start = pos_ - 2;
    std::string out = "\\";
    out += letter;
    if (peek() == '{') {
      size_t close = p_.find('}', pos_);
      if (close == std::string_view::npos || close == pos_ + 1) {
        fail("a bad Unicode class", start);
        return std::nullopt;
      }
      out += p_.substr(pos_, close + 1 - pos_);
      pos_ = close + 1;
    } else if (std::isalpha(static_cast<unsigned char>(peek()))) {
      out += '{';
      out += peek();
      out += '}';
      ++pos_;
    } else {
      fail("a bad Unicode class", start);
      return std::nullopt;
    }
    return out;
  }

  // A class escape (\d \s \w and their negations, \p), or none when the
  // letter is not one.
  std::optional<ClassNode> class_escape(char letter) {
    switch (letter) {
      case 'd':
        return digit_class(flags_.unicode);
      case 'D':
        return negated(digit_class(flags_.unicode));
      case 's':
        return space_class(flags_.unicode);
      case 'S':
        return negated(space_class(flags_.unicode));
      case 'w':
        return word_class(flags_.unicode);
      case 'W':
        return negated(word_class(flags_.unicode));
      case 'p':
      case 'P': {
        std::optional<std::string> prop = property_escape(letter);
        if (!prop) return std::nullopt;
        return ClassNode::set({}, {std::move(*prop)});
      }
      default:
        return std::nullopt;
    }
  }

  void escape() {
    const size_t start = pos_;
    ++pos_;
    if (at_end()) {
      fail("a pattern ending in a backslash", start);
      return;
    }
    const char letter = peek();
    if (static_cast<unsigned char>(letter) >= 0x80) {
      fail("an escaped non-ASCII character", start);
      return;
    }
    ++pos_;
    switch (letter) {
      case 'd':
      case 'D':
      case 's':
      case 'S':
      case 'w':
      case 'W':
      case 'p':
      case 'P': {
        std::optional<ClassNode> node = class_escape(letter);
        if (node) emit_class_atom(std::move(*node));
        return;
      }
      case 'x':
      case 'u':
      case 'U': {
        std::optional<char32_t> cp = code_point_escape(letter);
        if (cp) emit_literal(*cp);
        return;
      }
      case 'b':
        if (peek() == '{') {
          static const std::pair<std::string_view, int> kinds[] = {
              {"{start}", 0}, {"{end}", 1}, {"{start-half}", 2}, {"{end-half}", 3}};
          for (const auto& [text, kind] : kinds) {
            if (!looking_at(text)) continue;
            pos_ += text.size();
            std::string w = emit_class(word_class(flags_.unicode), false);
            switch (kind) {
              case 0:
                emit_atom(word_boundary(flags_.unicode, true, false), AtomKind::Assertion);
                break;
              case 1:
                emit_atom(word_boundary(flags_.unicode, false, true), AtomKind::Assertion);
                break;
              case 2:
                emit_atom("(?<!" + w + ")", AtomKind::Assertion);
                break;
              default:
                emit_atom("(?!" + w + ")", AtomKind::Assertion);
                break;
            }
            return;
          }
          fail("an unknown word boundary", start);
          return;
        }
        emit_atom(word_boundary(flags_.unicode, true, true), AtomKind::Assertion);
        return;
      case 'B':
        emit_atom(not_word_boundary(flags_.unicode), AtomKind::Assertion);
        return;
      case '<':
        emit_atom(word_boundary(flags_.unicode, true, false), AtomKind::Assertion);
        return;
      case '>':
        emit_atom(word_boundary(flags_.unicode, false, true), AtomKind::Assertion);
        return;
      case 'A':
        emit_atom("\\A", AtomKind::Assertion);
        return;
      case 'z':
        emit_atom("\\z", AtomKind::Assertion);
        return;
      default:
        break;
    }
    if (std::optional<char32_t> cp = simple_escape(letter)) {
      emit_literal(*cp);
      return;
    }
    if (std::isalnum(static_cast<unsigned char>(letter))) {
      fail(std::isdigit(static_cast<unsigned char>(letter))
               ? "back-references and octal escapes are not supported"
               : "an unknown escape",
           start);
      return;
    }
    emit_literal(static_cast<unsigned char>(letter));
  }

  // One character of a class (a literal or an escape), or a class escape.
  struct ClassItem {
    std::optional<char32_t> ch;
    std::optional<ClassNode> node;
  };

  std::optional<ClassItem> parse_class_item() {
    const size_t start = pos_;
    if (peek() != '\\') return ClassItem{next_char(), std::nullopt};
    ++pos_;
    if (at_end()) {
      fail("an unclosed class", start);
      return std::nullopt;
    }
    const char letter = peek();
    if (static_cast<unsigned char>(letter) >= 0x80) {
      fail("an escaped non-ASCII character", start);
      return std::nullopt;
    }
    ++pos_;
    if (letter == 'x' || letter == 'u' || letter == 'U') {
      std::optional<char32_t> cp = code_point_escape(letter);
      if (!cp) return std::nullopt;
      return ClassItem{cp, std::nullopt};
    }
    if (std::optional<char32_t> cp = simple_escape(letter)) return ClassItem{cp, std::nullopt};
    if (std::string_view("dDsSwWpP").find(letter) != std::string_view::npos) {
      std::optional<ClassNode> node = class_escape(letter);
      if (!node) return std::nullopt;
      return ClassItem{std::nullopt, std::move(node)};
    }
    if (std::isalnum(static_cast<unsigned char>(letter))) {
      fail("an unknown escape in a class", start);
      return std::nullopt;
    }
    return ClassItem{static_cast<unsigned char>(letter), std::nullopt};
  }

  // After "[": the class up to and including its "]".
  std::optional<ClassNode> parse_class(int nesting) {
    const size_t open = pos_ - 1;
    if (nesting > kMaxClassDepth) {
      fail("classes nested too deeply", open);
      return std::nullopt;
    }
    bool negate = false;
    if (peek() == '^') {
      ++pos_;
      negate = true;
    }
    std::optional<ClassNode> lhs;
    ClassNode::Kind pending = ClassNode::Kind::Union;  // the operator before `current`
    std::vector<ClassNode> current;
    Ranges singles;
    bool first = true;

    auto finish_union = [&]() {
      if (!singles.empty()) current.push_back(ClassNode::set(std::move(singles)));
      singles.clear();
      ClassNode u = current.size() == 1 ? std::move(current[0])
                                        : ClassNode::of(ClassNode::Kind::Union, std::move(current));
      current.clear();
      if (!lhs) {
        lhs = std::move(u);
      } else {
        lhs = ClassNode::of(pending, {std::move(*lhs), std::move(u)});
      }
    };

    while (true) {
      skip_verbose_space();
      if (at_end()) {
        fail("an unclosed class", open);
        return std::nullopt;
      }
      const char c = peek();
      if (c == ']' && !first) {
        ++pos_;
        break;
      }
      if (!first && (looking_at("&&") || looking_at("--") || looking_at("~~"))) {
        ClassNode::Kind op = c == '&'   ? ClassNode::Kind::Intersect
                             : c == '-' ? ClassNode::Kind::Difference
                                        : ClassNode::Kind::SymmetricDifference;
        pos_ += 2;
        finish_union();
        if (lhs->depth > kMaxClassDepth) {
          fail("too many set operations in a class", open);
          return std::nullopt;
        }
        pending = op;
        continue;
      }
      const bool was_first = first;
      first = false;
      if (c == '[') {
        if (looking_at("[:")) {
          size_t close = p_.find(":]", pos_ + 2);
          if (close != std::string_view::npos) {
            std::string_view name = p_.substr(pos_ + 2, close - pos_ - 2);
            bool neg = !name.empty() && name[0] == '^';
            if (neg) name.remove_prefix(1);
            if (std::optional<ClassNode> posix = posix_class(name)) {
              pos_ = close + 2;
              current.push_back(neg ? negated(std::move(*posix)) : std::move(*posix));
              continue;
            }
          }
        }
        ++pos_;
        std::optional<ClassNode> nested = parse_class(nesting + 1);
        if (!nested) return std::nullopt;
        current.push_back(std::move(*nested));
        continue;
      }
      if (c == ']' && was_first) {
        ++pos_;
        singles.emplace_back(']', ']');
        continue;
      }
      const size_t item_start = pos_;
      std::optional<ClassItem> item = parse_class_item();
      if (!item) return std::nullopt;
      if (item->node) {
        current.push_back(std::move(*item->node));
        continue;
      }
      char32_t lo = *item->ch;
      skip_verbose_space();
      if (peek() == '-' && peek(1) != ']' && peek(1) != '-' && pos_ + 1 < p_.size()) {
        ++pos_;
        skip_verbose_space();
        std::optional<ClassItem> end = parse_class_item();
        if (!end) return std::nullopt;
        if (!end->ch || *end->ch < lo) {
          fail("a bad class range", item_start);
          return std::nullopt;
        }
        singles.emplace_back(lo, *end->ch);
        continue;
      }
      singles.emplace_back(lo, lo);
    }
    finish_union();
    ClassNode node = std::move(*lhs);
    return negate ? negated(std::move(node)) : node;
  }

  std::string_view p_;
  size_t pos_ = 0;
  std::string out_;
  Flags flags_;
  std::vector<OpenGroup> groups_;
  AtomKind atom_ = AtomKind::None;
  size_t atom_start_ = 0;
  std::optional<DialectError> error_;
};

}  // namespace

std::variant<std::string, DialectError> translate_dialect(std::string_view pattern) {
  return Translator(pattern).run();
}

std::string splice_js_classes(std::string_view pattern_template) {
  static constexpr std::string_view kSpace = "{js_space}";
  static constexpr std::string_view kNonSpace = "{js_nonspace}";
  std::string out;
  out.reserve(pattern_template.size());
  size_t pos = 0;
  while (pos < pattern_template.size()) {
    std::string_view rest = pattern_template.substr(pos);
    if (rest.substr(0, kSpace.size()) == kSpace) {
      out += js_space;
      pos += kSpace.size();
    } else if (rest.substr(0, kNonSpace.size()) == kNonSpace) {
      out += js_nonspace;
      pos += kNonSpace.size();
    } else {
      out += pattern_template[pos++];
    }
  }
  return out;
}

}  // namespace mossbank::screen
