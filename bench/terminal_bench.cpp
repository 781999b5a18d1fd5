// Throughput of the terminal emulator (tools/terminal_dump prints its screen).
//
//   terminal_bench [--cols N] [--rows N] [--repeat N] [--peer vterm] FILE...
//       feeds each file in 64 KiB chunks (through the same UTF-8 repair as
//       the output pump) and prints: name, bytes, best seconds, MB/s, and the
//       allocations per MB of input in the best run
//   terminal_bench --suite [--only NAME] [--repeat N] [--peer vterm]
//       the same over generated workloads at 120x40: plain-scroll (text
//       scrolling past the scroll-back), sgr-heavy, agent-redraw (cursor up,
//       erase line, rewrite), cjk-combining, alt-screen-frames
//   The suite also times resizing a full store (5,000 lines of scroll-back)
//   from 200 to 80 columns and back, and serialising a full 200x50 screen.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "base/numbers.h"
#include "terminal/terminal.h"

#ifdef MOSSBANK_HAVE_VTERM
#include <vterm.h>
#endif

// Counts allocations, to show that feeding allocates nothing per cell or
// per line once the scroll-back is full.
static std::atomic<uint64_t> g_allocations{0};

void* operator new(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using mossbank::Terminal;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 64 * 1024;

struct Options {
  uint32_t cols = 120;
  uint32_t rows = 40;
  int repeat = 5;
  bool peer_vterm = false;
  bool suite = false;
  std::string only;  // one workload of the suite
  std::vector<std::string> files;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: terminal_bench [--cols N] [--rows N] [--repeat N] [--peer vterm] FILE...\n"
               "       terminal_bench --suite [--only NAME] [--repeat N] [--peer vterm]\n");
  std::exit(2);
}

uint32_t number_arg(std::string_view text) {
  std::optional<uint64_t> v = mossbank::parse_decimal(text, 100000);
  if (!v || *v == 0) usage();
  return static_cast<uint32_t>(*v);
}

void feed_all(Terminal& t, const std::string& bytes) {
  mossbank::Utf8Repair repair;
  for (size_t off = 0; off < bytes.size(); off += kChunk) {
    std::string_view chunk(bytes.data() + off, std::min(kChunk, bytes.size() - off));
    mossbank::terminal_process(t, repair.feed(chunk));
  }
}

struct Timing {
  double best_seconds = 0;
  uint64_t allocations = 0;  // in the best run
};

Timing time_runs(int repeat, const std::function<void()>& run) {
  Timing timing;
  for (int i = 0; i < repeat; ++i) {
    uint64_t before = g_allocations.load();
    auto start = Clock::now();
    run();
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    uint64_t allocs = g_allocations.load() - before;
    if (i == 0 || s < timing.best_seconds) {
      timing.best_seconds = s;
      timing.allocations = allocs;
    }
  }
  return timing;
}

#ifdef MOSSBANK_HAVE_VTERM
// libvterm's screen layer with a scroll-back that copies every pushed line.
struct VtermPeer {
  std::vector<std::vector<VTermScreenCell>> scroll_back;
  size_t next = 0;

  static int push_line(int cols, const VTermScreenCell* cells, void* user) {
    auto* self = static_cast<VtermPeer*>(user);
    if (self->scroll_back.size() < 5000) {
      self->scroll_back.emplace_back(cells, cells + cols);
    } else {
      self->scroll_back[self->next].assign(cells, cells + cols);
      self->next = (self->next + 1) % 5000;
    }
    return 1;
  }

  void run(uint32_t cols, uint32_t rows, const std::string& bytes) {
    scroll_back.clear();
    next = 0;
    VTerm* vt = vterm_new(static_cast<int>(rows), static_cast<int>(cols));
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static const VTermScreenCallbacks callbacks = {nullptr, nullptr, nullptr,    nullptr,
                                                   nullptr, nullptr, &push_line, nullptr};
    vterm_screen_set_callbacks(screen, &callbacks, this);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    for (size_t off = 0; off < bytes.size(); off += kChunk)
      vterm_input_write(vt, bytes.data() + off, std::min(kChunk, bytes.size() - off));
    vterm_free(vt);
  }
};
#endif

void bench_one(const Options& opt, const std::string& name, const std::string& bytes) {
  Timing t = time_runs(opt.repeat, [&] {
    Terminal term = mossbank::terminal_new(opt.cols, opt.rows);
    feed_all(term, bytes);
  });
  double mb = static_cast<double>(bytes.size()) / 1e6;
  // Allocations in the steady state: the same input fed a second time, once
  // the scroll-back is full and the lines are recycled.
  uint64_t steady = 0;
  {
    Terminal term = mossbank::terminal_new(opt.cols, opt.rows);
    feed_all(term, bytes);
    uint64_t before = g_allocations.load();
    feed_all(term, bytes);
    steady = g_allocations.load() - before;
  }
  std::printf(
      "%-20s %10zu bytes  best %.4f s  %7.1f MB/s  allocations/MB: %.2f first feed, %.3f steady\n",
      name.c_str(), bytes.size(), t.best_seconds, mb / t.best_seconds,
      static_cast<double>(t.allocations) / mb, static_cast<double>(steady) / mb);
  if (opt.peer_vterm) {
#ifdef MOSSBANK_HAVE_VTERM
    VtermPeer peer;
    Timing v = time_runs(opt.repeat, [&] { peer.run(opt.cols, opt.rows, bytes); });
    std::printf("%-20s %10zu bytes  best %.4f s  %7.1f MB/s  (libvterm; ours is %.1fx)\n",
                (name + " vterm").c_str(), bytes.size(), v.best_seconds, mb / v.best_seconds,
                v.best_seconds / t.best_seconds);
#else
    std::printf("%-20s libvterm not built in (pkg-config vterm not found)\n", name.c_str());
#endif
  }
}

// ---- Generated workloads ----------------------------------------------------

struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

constexpr size_t kWorkloadBytes = 32 * 1000 * 1000;

std::string word(Rng& r) {
  static const char* const words[] = {"the",  "agent", "wrote",   "src/main.rs", "error:", "cargo",
                                      "test", "ok",    "passed;", "function",    "return", "value",
                                      "-->",  "line",  "42",      "warning",     "build",  "done"};
  return words[r.below(static_cast<uint32_t>(std::size(words)))];
}

// Log-like lines of 10-119 columns, most shorter than the screen.
std::string plain_workload() {
  Rng r;
  std::string out;
  while (out.size() < kWorkloadBytes) {
    size_t len = 10 + r.below(110), start = out.size();
    while (out.size() - start < len) {
      out += word(r);
      out += ' ';
    }
    out += "\r\n";
  }
  return out;
}

// Every character in its own 256-colour or true colour.
std::string sgr_workload() {
  Rng r;
  std::string out;
  char buf[64];
  while (out.size() < kWorkloadBytes) {
    for (int c = 0; c < 100; ++c) {
      if (r.below(2)) {
        std::snprintf(buf, sizeof buf, "\x1b[38;5;%u;48;5;%um", r.below(256), r.below(256));
      } else {
        std::snprintf(buf, sizeof buf, "\x1b[38;2;%u;%u;%um", r.below(256), r.below(256),
                      r.below(256));
      }
      out += buf;
      out += static_cast<char>('!' + r.below(90));
    }
    out += "\x1b[0m\r\n";
  }
  return out;
}

// A status block redrawn in place: cursor up, erase line, rewrite.
std::string redraw_workload() {
  Rng r;
  std::string out;
  char buf[64];
  static const char* const spin[] = {"⠋", "⠙", "⠹", "⠸", "⠼", "⠴"};
  for (int i = 0; i < 12; ++i) out += "\r\n";
  while (out.size() < kWorkloadBytes) {
    out += "\x1b[12A";
    for (int row = 0; row < 12; ++row) {
      out += "\r\x1b[2K";
      if (row == 0) {
        out += "\x1b[38;5;208m";
        out += spin[r.below(6)];
        out += "\x1b[0m Thinking… ";
        std::snprintf(buf, sizeof buf, "(%us · esc to interrupt)", r.below(300));
        out += buf;
      } else {
        out += "\x1b[2m│\x1b[22m ";
        size_t len = 20 + r.below(80), start = out.size();
        while (out.size() - start < len) {
          out += word(r);
          out += ' ';
        }
      }
      out += "\r\n";
    }
  }
  return out;
}

// Chinese, Japanese and Korean prose (wide characters, full-width
// punctuation, an emoji now and then) with Latin words whose accents are
// combining marks and Hangul syllables with a combining final consonant.
std::string cjk_workload() {
  Rng r;
  std::string out;
  static const char* const chars[] = {"漢", "字", "日", "本", "語", "中", "文", "的", "是",
                                      "テ", "ス", "ト", "の", "で", "す", "한", "국", "어",
                                      "가", "나", "다", "입", "니", "세", "요", "코", "드"};
  static const char* const marked[] = {"cafe\xCC\x81",
                                       "nai\xCC\x88ve",
                                       "n\xCC\x83o",
                                       "re\xCC\x81sume\xCC\x81",
                                       "a\xCC\x8Angstro\xCC\x88m",
                                       "\xED\x81\xAC\xE1\x86\xAB",
                                       "e\xCC\x82te"};
  static const char* const punct[] = {"，", "。", "、", " ", " ", "「", "」", "😀", ": "};
  while (out.size() < kWorkloadBytes) {
    size_t columns = 0, limit = 40 + r.below(70);
    while (columns < limit) {
      if (r.below(8) == 0) {
        out += marked[r.below(static_cast<uint32_t>(std::size(marked)))];
        out += ' ';
        columns += 7;
        continue;
      }
      for (uint32_t n = 2 + r.below(6); n > 0; --n) {
        out += chars[r.below(static_cast<uint32_t>(std::size(chars)))];
        columns += 2;
      }
      out += punct[r.below(static_cast<uint32_t>(std::size(punct)))];
      columns += 2;
    }
    out += "\r\n";
  }
  return out;
}

// Full-screen frames of a text interface on the alternate screen.
std::string alt_workload(uint32_t rows) {
  Rng r;
  std::string out = "\x1b[?1049h";
  char buf[64];
  while (out.size() < kWorkloadBytes) {
    out += "\x1b[?2026h\x1b[H";
    for (uint32_t row = 1; row <= rows; ++row) {
      std::snprintf(buf, sizeof buf, "\x1b[%u;1H\x1b[3%um", row, r.below(8));
      out += buf;
      size_t len = 30 + r.below(80), start = out.size();
      while (out.size() - start < len) {
        out += word(r);
        out += ' ';
      }
      out += "\x1b[0m\x1b[K";
    }
    out += "\x1b[?2026l";
  }
  return out + "\x1b[?1049l";
}

// A full store at 200 columns: 5,000 lines of scroll-back and the screen,
// lines of every length, many of them soft-wrapped.
Terminal full_store(uint32_t cols, uint32_t rows) {
  Rng r;
  Terminal t = mossbank::terminal_new(cols, rows);
  std::string bytes;
  while (t.primary.scroll_back < 5000) {
    bytes.clear();
    for (int i = 0; i < 200; ++i) {
      size_t len = r.below(3) == 0 ? 200 + r.below(300) : 10 + r.below(150), start = bytes.size();
      if (r.below(4) == 0) bytes += "\x1b[3" + std::to_string(r.below(8)) + "m";
      while (bytes.size() - start < len) {
        bytes += word(r);
        bytes += ' ';
      }
      bytes += "\x1b[m\r\n";
    }
    mossbank::terminal_process(t, bytes);
  }
  return t;
}

void bench_resize(const Options& opt) {
  double best = 0;
  for (int i = 0; i < opt.repeat; ++i) {
    Terminal t = full_store(200, 50);
    auto start = Clock::now();
    mossbank::terminal_resize(t, 80, 50);
    mossbank::terminal_resize(t, 200, 50);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (i == 0 || s < best) best = s;
  }
  std::printf("%-20s 200x50 -> 80x50 -> 200x50 with 5,000 lines of scroll-back: best %.2f ms\n",
              "resize", best * 1e3);
}

void bench_serialize(const Options& opt) {
  // A full screen: every cell written, colours changing often, a few wraps.
  Rng r;
  Terminal t = mossbank::terminal_new(200, 50);
  std::string bytes;
  char buf[32];
  for (int row = 0; row < 50; ++row) {
    for (int col = 0; col < 200; ++col) {
      if (r.below(6) == 0) {
        std::snprintf(buf, sizeof buf, "\x1b[3%u;4%um", r.below(8), r.below(8));
        bytes += buf;
      }
      bytes += static_cast<char>('!' + r.below(90));
    }
    if (row + 1 < 50 && r.below(3)) bytes += "\r\n";
  }
  mossbank::terminal_process(t, bytes);
  double best = 0;
  size_t size = 0;
  const int rounds = 200;
  for (int i = 0; i < opt.repeat; ++i) {
    auto start = Clock::now();
    for (int k = 0; k < rounds; ++k) size = mossbank::serialize(t, true).size();
    double s = std::chrono::duration<double>(Clock::now() - start).count() / rounds;
    if (i == 0 || s < best) best = s;
  }
  std::printf("%-20s full 200x50 screen (%zu bytes): best %.3f ms\n", "serialize", size,
              best * 1e3);
}

int run_suite(Options opt) {
  opt.cols = 120;
  opt.rows = 40;
  auto want = [&](const char* name) { return opt.only.empty() || opt.only == name; };
  if (want("plain-scroll")) bench_one(opt, "plain-scroll", plain_workload());
  if (want("sgr-heavy")) bench_one(opt, "sgr-heavy", sgr_workload());
  if (want("agent-redraw")) bench_one(opt, "agent-redraw", redraw_workload());
  if (want("cjk-combining")) bench_one(opt, "cjk-combining", cjk_workload());
  if (want("alt-screen-frames")) bench_one(opt, "alt-screen-frames", alt_workload(opt.rows));
  if (want("resize")) bench_resize(opt);
  if (want("serialize")) bench_serialize(opt);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    if (a == "--cols") {
      opt.cols = number_arg(value());
    } else if (a == "--rows") {
      opt.rows = number_arg(value());
    } else if (a == "--repeat") {
      opt.repeat = static_cast<int>(number_arg(value()));
    } else if (a == "--peer") {
      if (std::string(value()) != "vterm") usage();
      opt.peer_vterm = true;
    } else if (a == "--suite") {
      opt.suite = true;
    } else if (a == "--only") {
      opt.only = value();
    } else if (a.size() > 1 && a[0] == '-') {
      usage();
    } else {
      opt.files.push_back(a);
    }
  }
  if (opt.suite) return run_suite(opt);
  if (opt.files.empty()) usage();
  for (const std::string& f : opt.files) {
    std::optional<std::string> bytes = mossbank::read_file(f);
    if (!bytes) {
      std::fprintf(stderr, "terminal_bench: cannot read %s\n", f.c_str());
      return 1;
    }
    bench_one(opt, f, *bytes);
  }
  return 0;
}
