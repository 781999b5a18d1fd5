#include "terminal/terminal.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "terminal/csi.h"
#include "terminal/osc.h"
#include "terminal/parser_feed.h"
#include "terminal/printing.h"

namespace mossbank::term {

namespace {

// Carries out the parser's actions on the terminal.
struct TerminalSink {
  Terminal& t;

  const uint8_t* print(const uint8_t* p, const uint8_t* end) { return print_run(t, p, end); }
  void execute(uint32_t code) {
    execute_control(t, code);
    t.print_state = 0;
  }
  void csi(uint32_t key, const Parser& p) {
    csi_dispatch(t, key, p);
    t.print_state = 0;
  }
  void esc(uint32_t key) {
    esc_dispatch(t, key);
    t.print_state = 0;
  }
  void osc(int32_t number, const std::string& text) { osc_dispatch(t, number, text); }
  void dcs_request(const std::string& text) { dcs_request_status(t, text); }
};

uint64_t random_seed() {
  std::random_device rd;
  return uint64_t{rd()} << 32 ^ rd();
}

uint64_t mix(uint64_t a, uint64_t b) {
  __uint128_t r = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

}  // namespace

size_t LinkKeyHash::operator()(std::string_view key) const {
  // A seeded multiply-mix hash: link keys come from the agent's output.
  constexpr uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull;
  uint64_t h = seed ^ k0;
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, key.data() + i, 8);
    h = mix(h ^ w, k1);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, key.data() + i, key.size() - i);
  return static_cast<size_t>(mix(h ^ tail ^ key.size(), k0 ^ seed));
}

Terminal terminal_new(uint32_t cols, uint32_t rows) {
  Terminal t;
  t.cols = std::clamp(cols, kMinTerminalCols, kMaxTerminalSide);
  t.rows = std::clamp(rows, kMinTerminalRows, kMaxTerminalSide);
  t.primary = buffer_new(true, t.cols, t.rows);
  buffer_fill_blank(t.primary, Pen{});
  t.alternate = buffer_new(false, t.cols, t.rows);
  t.parser = parser_new();
  t.hyperlinks = decltype(t.hyperlinks)(0, LinkKeyHash{random_seed()});
  return t;
}

void terminal_process(Terminal& t, std::string_view text) {
  Parser parser = std::move(t.parser);
  TerminalSink sink{t};
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  parser_feed(parser, sink, p, p + text.size());
  t.parser = std::move(parser);
}

void terminal_capture_replies(Terminal& t) { t.replies.emplace(); }

std::string terminal_take_replies(Terminal& t) {
  std::string out = t.replies ? std::move(*t.replies) : std::string();
  t.replies.reset();
  return out;
}

TerminalCursor terminal_cursor(const Terminal& t) {
  const Buffer& b = t.active();
  return TerminalCursor{b.cursor_col, b.cursor_row};
}

}  // namespace mossbank::term
