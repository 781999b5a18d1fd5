#include "terminal/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/parser_feed.h"
#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

// Records the parser's actions as text, e.g. "print(ab) csi(m;0) osc(2;t)".
struct Recorder {
  std::vector<std::string> events;

  const uint8_t* print(const uint8_t* p, const uint8_t* end) {
    std::string run;
    while (p < end) {
      const uint8_t* q = p;
      uint32_t cp = decode_utf8(q, end);
      if (cp < 32 || (cp >= 127 && cp < 160)) break;
      run.append(reinterpret_cast<const char*>(p), q - p);
      p = q;
    }
    events.push_back("print(" + run + ")");
    return p;
  }
  void execute(uint32_t code) { events.push_back("exec(" + std::to_string(code) + ")"); }
  void csi(uint32_t key, const Parser& p) {
    std::string e = "csi(";
    for (uint32_t k = key; k; k >>= 8) e.insert(4, 1, static_cast<char>(k & 0xFF));
    for (size_t i = 0; i < p.param_count; ++i) {
      e += ";" + std::to_string(p.param(i));
      for (size_t j = 0; j < p.sub_param_count(i); ++j)
        e += ":" + std::to_string(p.sub_param(i, j));
    }
    events.push_back(e + ")");
  }
  void esc(uint32_t key) {
    std::string e = "esc(";
    for (uint32_t k = key; k; k >>= 8) e.insert(4, 1, static_cast<char>(k & 0xFF));
    events.push_back(e + ")");
  }
  void osc(int32_t number, const std::string& text) {
    events.push_back("osc(" + std::to_string(number) + ";" + text + ")");
  }
  void dcs_request(const std::string& text) { events.push_back("dcs(" + text + ")"); }

  std::string joined() const {
    std::string out;
    for (const std::string& e : events) out += (out.empty() ? "" : " ") + e;
    return out;
  }
};

std::string parse(std::initializer_list<std::string_view> feeds) {
  Parser p = parser_new();
  Recorder r;
  for (std::string_view f : feeds) {
    const auto* b = reinterpret_cast<const uint8_t*>(f.data());
    parser_feed(p, r, b, b + f.size());
  }
  return r.joined();
}

std::string parse(std::string_view bytes) { return parse({bytes}); }

TEST(Parser, Sequences) {
  struct Case {
    std::string_view in;
    std::string want;
  };
  const Case cases[] = {
      {"\x1b[m", "csi(m;0)"},
      {"\x1b[1;22m", "csi(m;1;22)"},
      {"\x1b[;5H", "csi(H;0;5)"},
      {"\x1b[?25h", "csi(?h;25)"},
      {"\x1b[?1$p", "csi(?$p;1)"},
      {"\x1b[38:2::10:20:30m", "csi(m;38:2:-1:10:20:30)"},
      {"\x1b[4:3;1m", "csi(m;4:3;1)"},
      {"\x1b[99999999999999m", "csi(m;2147483647)"},
      {"\x1b[2\x08J", "exec(8) csi(J;2)"},  // C0 inside a sequence runs
      {"\x1b[2\xc2\xa0J", "print(J)"},      // 160 and up aborts to ground
      {"\x1b[1<m", ""},                     // a marker after a digit: ignored
      {"a\x7f"
       "b",
       "print(a) print(b)"},  // DEL in ground is dropped
      {"\xc2\xa0\xe4\xb8\x80", "print(\xc2\xa0\xe4\xb8\x80)"},
      {"\xc2\x85", "exec(133)"},  // C1 as UTF-8
      {"\x1b"
       "7\x1b(0\x1b#8",
       "esc(7) esc((0) esc(#8)"},
      {"\x1b]0;x\x18", ""},  // CAN aborts the OSC
      {"\x1b]0;x\x1b\\", "osc(0;x) esc(\\)"},
      {"\x1b]2;a\x7f"
       "b\x07",
       "osc(2;a\x7f"
       "b)"},                            // DEL is collected
      {"\x1b]2;a\nb\x07", "osc(2;ab)"},  // C0 is not
      {"\x1b]2\x07", "osc(2;)"},
      {"\x1b]x;2\x07", ""},  // not a number: dropped
      {"\x1b]8;;http://a;b\x07", "osc(8;;http://a;b)"},
      {"\x1bP$qm\x1b\\", "dcs(m) esc(\\)"},
      {"\x1bP$q\"p\x1b\\", "dcs(\"p) esc(\\)"},
      {"\x1bP$qabc\x1b\\", "dcs() esc(\\)"},  // too long: empty request
      {"\x1bP1$tx\x1b\\", "esc(\\)"},         // not DECRQSS
      {"\x1bP$qm\x18", ""},
      {"\x1b_Gdata\x1b\\x", "esc(\\) print(x)"},  // APC is skipped
      {"\xc2\x9b"
       "5n",
       "csi(n;5)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parse(c.in), c.want) << ::testing::PrintToString(std::string(c.in));
}

TEST(Parser, ParametersSaturateAndOverflowDropsTheExtra) {
  std::string forty = "\x1b[";
  for (int i = 1; i <= 40; ++i) forty += std::to_string(i) + (i < 40 ? ";" : "m");
  std::string want = "csi(m";
  for (int i = 1; i <= 32; ++i) want += ";" + std::to_string(i);
  EXPECT_EQ(parse(forty), want + ")");

  std::string subs = "\x1b[1";
  for (int i = 0; i < 40; ++i) subs += ":" + std::to_string(i);
  std::string sub_want = "csi(m;1";
  for (int i = 0; i < 32; ++i) sub_want += ":" + std::to_string(i);
  EXPECT_EQ(parse(subs + "m"), sub_want + ")");
}

TEST(Parser, StateSurvivesBetweenFeeds) {
  EXPECT_EQ(parse({"\x1b]2;ti", "tle\x07"}), "osc(2;title)");
  EXPECT_EQ(parse({"\x1b", "[", "3", "8;5", ";1", "m"}), "csi(m;38;5;1)");
  EXPECT_EQ(parse({"\x1bP$", "q", "r\x1b", "\\"}), "dcs(r) esc(\\)");
}

TEST(Parser, HugeOscIsDroppedAndItsMemoryFreed) {
  Parser p = parser_new();
  Recorder r;
  std::string start = "\x1b]2;";
  auto feed = [&](std::string_view s) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data());
    parser_feed(p, r, b, b + s.size());
  };
  feed(start);
  std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 11; ++i) feed(chunk);
  EXPECT_TRUE(p.osc_overflow);
  EXPECT_LT(p.osc_text.capacity(), 1024u);
  feed(
      "\x07"
      "ok");
  EXPECT_EQ(r.joined(), "print(ok)");
}

TEST(Parser, TableIsTheDocumentedShape) {
  auto entry = [](State s, uint32_t c) { return parser_table_entry(s, c); };
  auto action = [&](State s, uint32_t c) {
    return static_cast<Action>(entry(s, c) >> kActionShift);
  };
  auto next = [&](State s, uint32_t c) { return static_cast<State>(entry(s, c) & kNextStateMask); };
  EXPECT_EQ(action(State::ground, 'a'), Action::print);
  EXPECT_EQ(action(State::ground, 0x10FFFF), Action::print);
  EXPECT_EQ(action(State::ground, 0x7F), Action::ignore);
  EXPECT_EQ(action(State::osc_string, 0x1B), Action::osc_end);
  EXPECT_EQ(next(State::escape, '['), State::csi_entry);
  EXPECT_EQ(action(State::csi_param, ':'), Action::param);
  EXPECT_EQ(next(State::sos_pm_apc_string, 0xA0), State::ground);
  for (int s = 0; s < kStateCount; ++s) {
    EXPECT_EQ(
        next(static_cast<State>(s), 0x1B),
        s == static_cast<int>(State::osc_string) || s == static_cast<int>(State::dcs_passthrough)
            ? State::ground
            : State::escape);
    EXPECT_EQ(next(static_cast<State>(s), 0x9B), State::csi_entry);
  }
}

// CSI and DCS sequences share one parameter grammar; each state of either
// goes where its own family's next state is.
TEST(Parser, CsiAndDcsStatesKeepToTheirOwnFamily) {
  struct Case {
    State state;
    uint32_t c;
    Action action;
    State next;
  };
  using A = Action;
  using S = State;
  const Case cases[] = {
      {S::csi_entry, ' ', A::collect, S::csi_intermediate},
      {S::csi_entry, '5', A::param, S::csi_param},
      {S::csi_entry, '?', A::collect, S::csi_param},
      {S::csi_entry, 'm', A::csi_dispatch, S::ground},
      {S::csi_param, ';', A::param, S::csi_param},
      {S::csi_param, '?', A::none, S::csi_ignore},
      {S::csi_param, '$', A::collect, S::csi_intermediate},
      {S::csi_param, 'p', A::csi_dispatch, S::ground},
      {S::csi_param, '\n', A::execute, S::csi_param},
      {S::csi_param, 0x7F, A::none, S::csi_param},
      {S::csi_intermediate, '$', A::collect, S::csi_intermediate},
      {S::csi_intermediate, '1', A::none, S::csi_ignore},
      {S::csi_intermediate, 'p', A::csi_dispatch, S::ground},
      {S::dcs_entry, ' ', A::collect, S::dcs_intermediate},
      {S::dcs_entry, '1', A::param, S::dcs_param},
      {S::dcs_entry, '>', A::collect, S::dcs_param},
      {S::dcs_entry, 'q', A::dcs_hook, S::dcs_passthrough},
      {S::dcs_param, ';', A::param, S::dcs_param},
      {S::dcs_param, '<', A::none, S::dcs_ignore},
      {S::dcs_param, '$', A::collect, S::dcs_intermediate},
      {S::dcs_param, 'q', A::dcs_hook, S::dcs_passthrough},
      {S::dcs_param, '\n', A::none, S::dcs_param},
      {S::dcs_intermediate, '+', A::collect, S::dcs_intermediate},
      {S::dcs_intermediate, '0', A::none, S::dcs_ignore},
      {S::dcs_intermediate, 'q', A::dcs_hook, S::dcs_passthrough},
      {S::dcs_passthrough, '\n', A::dcs_put, S::dcs_passthrough},
      {S::dcs_passthrough, 0x7F, A::none, S::dcs_passthrough},
  };
  for (const Case& c : cases) {
    const uint8_t e = parser_table_entry(c.state, c.c);
    SCOPED_TRACE(::testing::Message() << "state " << static_cast<int>(c.state) << ", byte " << c.c);
    EXPECT_EQ(static_cast<Action>(e >> kActionShift), c.action);
    EXPECT_EQ(static_cast<State>(e & kNextStateMask), c.next);
  }
}

}  // namespace
}  // namespace mossbank::term
