// Prints the terminal emulator's screen after a byte stream.
//
//   terminal_dump text|styled|marked|serialize|cursor [--cols N] [--rows N]
//                 [--resize COLSxROWS]... FILE
//
// Feeds FILE once (through the same UTF-8 repair as the output pump) to a
// fresh emulator of that size (by default 120x40), applies the resizes in
// order, and prints the final screen in that form. serialize: the whole
// stream, then the presentation; cursor: "column,row", 0-based, column =
// cols while a wrap is pending.
//
// A developer tool that the tmux comparison tests also use; never installed.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/numbers.h"
#include "terminal/terminal.h"
#include "terminal_capture.h"

namespace {

using mossbank::Terminal;

constexpr size_t kChunk = 64 * 1024;

struct Options {
  std::string form;
  uint32_t cols = 120;
  uint32_t rows = 40;
  std::vector<std::pair<uint32_t, uint32_t>> resizes;
  std::string file;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: terminal_dump text|styled|marked|serialize|cursor [--cols N] [--rows N]\n"
               "                     [--resize COLSxROWS]... FILE\n");
  std::exit(2);
}

uint32_t number_arg(std::string_view text) {
  std::optional<uint64_t> v = mossbank::parse_decimal(text, 100000);
  if (!v || *v == 0) usage();
  return static_cast<uint32_t>(*v);
}

Options parse(int argc, char** argv) {
  Options opt;
  if (argc < 2) usage();
  opt.form = argv[1];
  if (opt.form != "text" && opt.form != "styled" && opt.form != "marked" &&
      opt.form != "serialize" && opt.form != "cursor") {
    usage();
  }
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    if (a == "--cols") {
      opt.cols = number_arg(value());
    } else if (a == "--rows") {
      opt.rows = number_arg(value());
    } else if (a == "--resize") {
      std::string v = value();
      size_t x = v.find('x');
      if (x == std::string::npos) usage();
      opt.resizes.emplace_back(number_arg(v.substr(0, x)), number_arg(v.substr(x + 1)));
    } else if ((a.size() > 1 && a[0] == '-') || !opt.file.empty()) {
      usage();
    } else {
      opt.file = a;
    }
  }
  if (opt.file.empty()) usage();
  return opt;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = parse(argc, argv);
  std::optional<Terminal> read =
      mossbank::tools::read_capture("terminal_dump", opt.file, opt.cols, opt.rows, kChunk);
  if (!read) return 1;
  Terminal& t = *read;
  for (auto [cols, rows] : opt.resizes) mossbank::terminal_resize(t, cols, rows);

  std::string out;
  if (opt.form == "serialize") {
    out = mossbank::serialize(t, false) + mossbank::serialize_presentation(t);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  }
  if (opt.form == "text") {
    out = mossbank::screen_lines(t);
  } else if (opt.form == "styled") {
    out = mossbank::screen_lines_styled(t);
  } else if (opt.form == "marked") {
    out = mossbank::screen_lines_marked(t);
  } else {
    const mossbank::TerminalCursor c = mossbank::terminal_cursor(t);
    out = std::to_string(c.col) + "," + std::to_string(c.row);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
