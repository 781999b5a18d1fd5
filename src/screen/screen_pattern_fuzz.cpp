// Fuzzes the dialect translator (its output must be something PCRE2 can be
// handed, and matching it must be safe), the screen text utilities on any
// bytes, and agent recognition on any argument vector.
//
// Input: a pattern, "\n", then a subject; the subject also serves as screen
// text and, split at NUL bytes, as an argument vector.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/text.h"
#include "base/utf8.h"
#include "screen/agents.h"
#include "screen/pattern_dialect.h"
#include "screen/session_ids.h"
#include "screen/text_utils.h"

namespace {

using namespace mossbank::screen;

void check(bool ok) {
  if (!ok) std::abort();
}

void fuzz_pattern(std::string_view pattern, std::string_view subject) {
  auto translated = translate_dialect(splice_js_classes(pattern));
  const std::string* pcre = std::get_if<std::string>(&translated);
  if (pcre == nullptr) return;
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pcre->data()), pcre->size(),
                    PCRE2_UTF | PCRE2_UCP | PCRE2_DOLLAR_ENDONLY, &error, &offset, cc);
  pcre2_compile_context_free(cc);
  if (code == nullptr) return;
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  pcre2_match_context* mc = pcre2_match_context_create(nullptr);
  pcre2_set_match_limit(mc, 100000);
  const std::string text = mossbank::utf8_lossy(subject);
  pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, md, mc);
  pcre2_match_context_free(mc);
  pcre2_match_data_free(md);
  pcre2_code_free(code);
}

void fuzz_text(std::string_view subject) {
  const std::string stripped = strip_escapes(subject);
  check(stripped.size() <= subject.size());
  const std::vector<std::string> rows = screen_text_rows(subject);
  check(!rows.empty());
  for (const std::string& row : rows) {
    check(row.find('\n') == std::string::npos && row.find('\r') == std::string::npos);
    check(trim_end_js(row) == row);
  }
  std::string_view trimmed = js_trim(subject);
  check(js_trim(trimmed) == trimmed);
  std::string_view dotted = trim_trailing_dots(subject);
  check(subject.substr(0, dotted.size()) == dotted);
  check(trim_trailing_dots(dotted) == dotted);
  size_t chars = char_offset_of_byte(subject, subject.size());
  check(byte_offset_of_char(subject, chars) <= subject.size());
}

void fuzz_argv(std::string_view subject) {
  std::vector<std::string> argv;
  size_t start = 0;
  while (start <= subject.size()) {
    size_t nul = subject.find('\0', start);
    if (nul == std::string_view::npos) nul = subject.size();
    argv.push_back(mossbank::utf8_lossy(subject.substr(start, nul - start)));
    start = nul + 1;
  }
  agent_of_command_line(argv);
  is_interactive_session(argv);
  check(!agent_name_of_program(argv[0]).empty());
  std::vector<std::string> args(argv.begin() + 1, argv.end());
  RunSession s = run_session(argv[0], args, "0f1e2d3c-4b5a-4697-8877-665544332211");
  if (s.session_id) check(is_session_id(*s.session_id));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  std::string_view pattern = input.substr(0, newline);
  std::string_view subject =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  fuzz_pattern(pattern, subject);
  fuzz_text(subject);
  fuzz_argv(subject);
  return 0;
}
