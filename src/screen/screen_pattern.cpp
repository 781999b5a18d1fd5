#include "screen/screen_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <variant>

#include "base/fatal.h"
#include "base/utf8.h"
#include "screen/pattern_dialect.h"

namespace mossbank::screen {

namespace {

[[noreturn]] void die(std::string_view message, std::string_view reason) {
  fatal(std::string(message) + ": " + std::string(reason));
}

// Matching scratch space of one thread: match data with room for the
// largest group count seen so far, and a JIT stack that grows on demand.
class ThreadScratch {
 public:
  ThreadScratch() = default;
  ThreadScratch(const ThreadScratch&) = delete;
  ThreadScratch& operator=(const ThreadScratch&) = delete;
  ~ThreadScratch() {
    pcre2_match_data_free(data_);
    pcre2_match_context_free(context_);
    pcre2_jit_stack_free(stack_);
  }

  pcre2_match_data* data(uint32_t pairs) {
    if (pairs > pairs_) {
      pcre2_match_data_free(data_);
      pairs_ = std::max<uint32_t>(pairs, 16);
      data_ = pcre2_match_data_create(pairs_, nullptr);
      if (data_ == nullptr) die("matching", "out of memory");
    }
    return data_;
  }

  pcre2_match_context* context() {
    if (context_ == nullptr) {
      context_ = pcre2_match_context_create(nullptr);
      stack_ = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
      if (context_ == nullptr) die("matching", "out of memory");
      if (stack_ != nullptr) pcre2_jit_stack_assign(context_, nullptr, stack_);
    }
    return context_;
  }

 private:
  pcre2_match_data* data_ = nullptr;
  uint32_t pairs_ = 0;
  pcre2_match_context* context_ = nullptr;
  pcre2_jit_stack* stack_ = nullptr;
};

ThreadScratch& scratch() {
  thread_local ThreadScratch s;
  return s;
}

const unsigned char kEmpty[1] = {0};

PCRE2_SPTR subject_ptr(std::string_view text) {
  return text.data() != nullptr ? reinterpret_cast<PCRE2_SPTR>(text.data()) : kEmpty;
}

// Whether the text is valid UTF-8. The engine would check this itself on
// every search, a byte at a time; screen rows are mostly ASCII, which this
// passes eight bytes at a time, and the readers search rows many times.
bool valid_utf8(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    const size_t n = utf8_sequence_length(std::string_view(p, static_cast<size_t>(end - p)));
    if (n == 0) return false;
    p += n;
  }
  return true;
}

// One search from `start`; true with the groups in `out` on a match.
// `checked` tells that the text from `start` on was already found to be
// valid UTF-8 by an earlier search of the same text.
bool search(const pcre2_code* code, uint32_t groups, std::string_view text, size_t start,
            bool checked, std::vector<std::optional<Span>>* out) {
  // Text that is not valid UTF-8 from `start` on (or a start inside a
  // character) gives no match, as the engine's own check would.
  if (!checked && !valid_utf8(text.substr(std::min(start, text.size())))) return false;
  ThreadScratch& s = scratch();
  pcre2_match_data* md = s.data(groups + 1);
  const uint32_t options = PCRE2_NO_UTF_CHECK;
  int rc = pcre2_match(code, subject_ptr(text), text.size(), start, options, md, s.context());
  if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
    // The interpreter keeps its backtracking frames on the heap.
    rc = pcre2_match(code, subject_ptr(text), text.size(), start, options | PCRE2_NO_JIT, md,
                     s.context());
  }
  if (rc <= 0) return false;
  if (out != nullptr) {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    out->assign(groups + 1, std::nullopt);
    for (uint32_t g = 0; g <= groups && g < static_cast<uint32_t>(rc); ++g) {
      if (ov[2 * g] == PCRE2_UNSET) continue;
      (*out)[g] = Span{ov[2 * g], ov[2 * g + 1]};
    }
  }
  return true;
}

size_t next_char_start(std::string_view text, size_t pos) {
  ++pos;
  while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  return pos;
}

// Walks the matches of `code` in `text` by the dialect's rule for empty
// matches; `visit` gets each one.
template <typename Visit>
void for_each_match(const pcre2_code* code, uint32_t groups, std::string_view text, Visit visit) {
  size_t pos = 0;
  std::optional<size_t> last_end;
  bool checked = false;
  std::vector<std::optional<Span>> spans;
  while (pos <= text.size()) {
    if (!search(code, groups, text, pos, checked, &spans)) return;
    checked = true;
    if (spans[0]->start == spans[0]->end && last_end == spans[0]->end) {
      pos = next_char_start(text, spans[0]->end);
      if (pos > text.size()) return;
      if (!search(code, groups, text, pos, true, &spans)) return;
    }
    pos = spans[0]->end;
    last_end = pos;
    visit(Match(text, std::move(spans)));
    spans.clear();
  }
}

}  // namespace

std::optional<std::string_view> Match::group(size_t index) const {
  if (index >= groups_.size() || !groups_[index]) return std::nullopt;
  return subject_.substr(groups_[index]->start, groups_[index]->end - groups_[index]->start);
}

std::optional<Span> Match::span(size_t index) const {
  if (index >= groups_.size()) return std::nullopt;
  return groups_[index];
}

void ScreenPattern::compile() const {
  const std::string dialect = splice_js_classes(template_);
  std::variant<std::string, DialectError> translated = translate_dialect(dialect);
  if (const DialectError* e = std::get_if<DialectError>(&translated)) {
    die(failure_, e->text + " at offset " + std::to_string(e->offset) + " of " + dialect);
  }
  const std::string& pcre = std::get<std::string>(translated);
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (context == nullptr) die(failure_, "out of memory");
  pcre2_set_newline(context, PCRE2_NEWLINE_LF);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pcre.data()), pcre.size(),
                    PCRE2_UTF | PCRE2_UCP | PCRE2_DOLLAR_ENDONLY | PCRE2_NEVER_BACKSLASH_C, &error,
                    &offset, context);
  pcre2_compile_context_free(context);
  if (code == nullptr) {
    PCRE2_UCHAR buffer[256];
    pcre2_get_error_message(error, buffer, sizeof buffer);
    die(failure_, reinterpret_cast<const char*>(buffer) + std::string(" at offset ") +
                      std::to_string(offset) + " of " + pcre);
  }
  // Without JIT (not built in, or no executable memory) the interpreter runs.
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  uint32_t count = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &count);
  groups_ = count;
  code_ = code;
}

const pcre2_real_code_8* ScreenPattern::code() const {
  std::call_once(once_, [this] { compile(); });
  return code_;
}

size_t ScreenPattern::group_count() const {
  code();
  return groups_;
}

bool ScreenPattern::is_match(std::string_view text) const {
  const pcre2_code* c = code();
  return search(c, groups_, text, 0, false, nullptr);
}

std::optional<Match> ScreenPattern::find(std::string_view text, size_t start) const {
  const pcre2_code* c = code();
  if (start > text.size()) return std::nullopt;
  std::vector<std::optional<Span>> spans;
  if (!search(c, groups_, text, start, false, &spans)) return std::nullopt;
  return Match(text, std::move(spans));
}

std::vector<Match> ScreenPattern::find_all(std::string_view text) const {
  std::vector<Match> out;
  const pcre2_code* c = code();
  for_each_match(c, groups_, text, [&](Match m) { out.push_back(std::move(m)); });
  return out;
}

void ScreenPattern::append_expansion(std::string& out, const Match& m, std::string_view rep) const {
  auto is_name_char = [](char c) {
    return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  auto append_group = [&](std::string_view name) {
    std::optional<size_t> index;
    if (!name.empty() && name.size() <= 9 &&
        name.find_first_not_of("0123456789") == std::string_view::npos) {
      index = std::stoul(std::string(name));
    } else {
      int n = pcre2_substring_number_from_name(
          code(), reinterpret_cast<PCRE2_SPTR>(std::string(name).c_str()));
      if (n > 0) index = static_cast<size_t>(n);
    }
    if (index) {
      if (std::optional<std::string_view> g = m.group(*index)) out += *g;
    }
  };
  while (!rep.empty()) {
    size_t dollar = rep.find('$');
    if (dollar == std::string_view::npos) break;
    out += rep.substr(0, dollar);
    rep.remove_prefix(dollar);
    if (rep.size() >= 2 && rep[1] == '$') {
      out += '$';
      rep.remove_prefix(2);
      continue;
    }
    if (rep.size() >= 2 && rep[1] == '{') {
      size_t close = rep.find('}', 2);
      if (close != std::string_view::npos) {
        append_group(rep.substr(2, close - 2));
        rep.remove_prefix(close + 1);
        continue;
      }
    } else {
      size_t end = 1;
      while (end < rep.size() && is_name_char(rep[end])) ++end;
      if (end > 1) {
        append_group(rep.substr(1, end - 1));
        rep.remove_prefix(end);
        continue;
      }
    }
    out += '$';
    rep.remove_prefix(1);
  }
  out += rep;
}

std::string ScreenPattern::replace_all(std::string_view text, std::string_view replacement) const {
  std::string out;
  size_t last = 0;
  const pcre2_code* c = code();
  for_each_match(c, groups_, text, [&](const Match& m) {
    out += text.substr(last, m.start() - last);
    append_expansion(out, m, replacement);
    last = m.end();
  });
  out += text.substr(last);
  return out;
}

std::string ScreenPattern::replace_all_with(
    std::string_view text, const std::function<std::string(const Match&)>& replacer) const {
  std::string out;
  size_t last = 0;
  const pcre2_code* c = code();
  for_each_match(c, groups_, text, [&](const Match& m) {
    out += text.substr(last, m.start() - last);
    out += replacer(m);
    last = m.end();
  });
  out += text.substr(last);
  return out;
}

size_t byte_offset_of_char(std::string_view text, size_t char_index) {
  size_t pos = 0;
  for (size_t k = 0; k < char_index && pos < text.size(); ++k) pos = next_char_start(text, pos);
  return pos;
}

size_t char_offset_of_byte(std::string_view text, size_t byte_offset) {
  if (byte_offset > text.size()) byte_offset = text.size();
  size_t count = 0;
  size_t k = 0;
  // Eight bytes at a time: every byte but a continuation byte (10xxxxxx)
  // starts a character.
  for (; k + 8 <= byte_offset; k += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + k, 8);
    const uint64_t continuation = word & ~(word << 1) & 0x8080808080808080ull;
    count += 8 - static_cast<size_t>(std::popcount(continuation));
  }
  for (; k < byte_offset; ++k) {
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace mossbank::screen
