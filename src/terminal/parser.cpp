#include "terminal/parser.h"

#include <initializer_list>

namespace mossbank::term {

namespace {

// The transition table as data. Classes are code points 0-159 and 160 for
// every code point from 160 up. An entry is (action << 4 | next state);
// everything not named below is (ignore, ground).

struct Span {
  uint8_t first;
  uint8_t last;
};

struct ClassSet {
  Span spans[8];
  int count;
};

constexpr ClassSet set(std::initializer_list<Span> spans) {
  ClassSet s{};
  for (Span sp : spans) s.spans[s.count++] = sp;
  return s;
}

constexpr ClassSet kC0 = set({{0x00, 0x17}, {0x19, 0x19}, {0x1C, 0x1F}});
constexpr uint8_t kStay = 0xFF;
constexpr uint8_t kAny = 0xFE;

struct Rule {
  uint8_t state;  // a State, or kAny for every state
  ClassSet classes;
  Action action;
  uint8_t next;  // a State, or kStay
};

constexpr uint8_t S(State s) { return static_cast<uint8_t>(s); }

using A = Action;
using St = State;

// Applied in order; later rules override earlier ones.
constexpr Rule kRules[] = {
    // Ground prints the printable code points.
    {S(St::ground), set({{0x20, 0x7E}, {160, 160}}), A::print, S(St::ground)},

    // Anywhere: C1 controls and the string and sequence introducers.
    {kAny, set({{0x18, 0x18}, {0x1A, 0x1A}, {0x80, 0x8F}, {0x91, 0x97}, {0x99, 0x9A}}), A::execute,
     S(St::ground)},
    {kAny, set({{0x1B, 0x1B}}), A::clear, S(St::escape)},
    {kAny, set({{0x90, 0x90}}), A::clear, S(St::dcs_entry)},
    {kAny, set({{0x9B, 0x9B}}), A::clear, S(St::csi_entry)},
    {kAny, set({{0x9D, 0x9D}}), A::osc_start, S(St::osc_string)},
    {kAny, set({{0x98, 0x98}, {0x9E, 0x9F}}), A::none, S(St::sos_pm_apc_string)},
    {kAny, set({{0x9C, 0x9C}}), A::none, S(St::ground)},

    {S(St::ground), kC0, A::execute, kStay},

    {S(St::escape), kC0, A::execute, kStay},
    {S(St::escape), set({{0x20, 0x2F}}), A::collect, S(St::escape_intermediate)},
    {S(St::escape), set({{0x30, 0x4F}, {0x51, 0x57}, {0x59, 0x5A}, {0x5C, 0x5C}, {0x60, 0x7E}}),
     A::esc_dispatch, S(St::ground)},
    {S(St::escape), set({{0x50, 0x50}}), A::clear, S(St::dcs_entry)},
    {S(St::escape), set({{0x58, 0x58}, {0x5E, 0x5F}}), A::none, S(St::sos_pm_apc_string)},
    {S(St::escape), set({{0x5B, 0x5B}}), A::clear, S(St::csi_entry)},
    {S(St::escape), set({{0x5D, 0x5D}}), A::osc_start, S(St::osc_string)},
    {S(St::escape), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::escape_intermediate), kC0, A::execute, kStay},
    {S(St::escape_intermediate), set({{0x20, 0x2F}}), A::collect, kStay},
    {S(St::escape_intermediate), set({{0x30, 0x7E}}), A::esc_dispatch, S(St::ground)},
    {S(St::escape_intermediate), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::csi_entry), kC0, A::execute, kStay},
    {S(St::csi_entry), set({{0x20, 0x2F}}), A::collect, S(St::csi_intermediate)},
    {S(St::csi_entry), set({{0x30, 0x3B}}), A::param, S(St::csi_param)},
    {S(St::csi_entry), set({{0x3C, 0x3F}}), A::collect, S(St::csi_param)},
    {S(St::csi_entry), set({{0x40, 0x7E}}), A::csi_dispatch, S(St::ground)},
    {S(St::csi_entry), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::csi_param), kC0, A::execute, kStay},
    {S(St::csi_param), set({{0x20, 0x2F}}), A::collect, S(St::csi_intermediate)},
    {S(St::csi_param), set({{0x30, 0x3B}}), A::param, kStay},
    {S(St::csi_param), set({{0x3C, 0x3F}}), A::none, S(St::csi_ignore)},
    {S(St::csi_param), set({{0x40, 0x7E}}), A::csi_dispatch, S(St::ground)},
    {S(St::csi_param), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::csi_intermediate), kC0, A::execute, kStay},
    {S(St::csi_intermediate), set({{0x20, 0x2F}}), A::collect, kStay},
    {S(St::csi_intermediate), set({{0x30, 0x3F}}), A::none, S(St::csi_ignore)},
    {S(St::csi_intermediate), set({{0x40, 0x7E}}), A::csi_dispatch, S(St::ground)},
    {S(St::csi_intermediate), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::csi_ignore), kC0, A::execute, kStay},
    {S(St::csi_ignore), set({{0x20, 0x3F}, {0x7F, 0x7F}, {160, 160}}), A::none, kStay},
    {S(St::csi_ignore), set({{0x40, 0x7E}}), A::none, S(St::ground)},

    {S(St::sos_pm_apc_string), kC0, A::none, kStay},
    {S(St::sos_pm_apc_string), set({{0x20, 0x7F}}), A::none, kStay},
    {S(St::sos_pm_apc_string), set({{0x9C, 0x9C}}), A::none, S(St::ground)},

    {S(St::osc_string), kC0, A::none, kStay},
    {S(St::osc_string), set({{0x20, 0x7F}, {160, 160}}), A::osc_put, kStay},
    {S(St::osc_string), set({{0x07, 0x07}, {0x18, 0x18}, {0x1A, 0x1B}, {0x9C, 0x9C}}), A::osc_end,
     S(St::ground)},

    {S(St::dcs_entry), kC0, A::none, kStay},
    {S(St::dcs_entry), set({{0x20, 0x2F}}), A::collect, S(St::dcs_intermediate)},
    {S(St::dcs_entry), set({{0x30, 0x3B}}), A::param, S(St::dcs_param)},
    {S(St::dcs_entry), set({{0x3C, 0x3F}}), A::collect, S(St::dcs_param)},
    {S(St::dcs_entry), set({{0x40, 0x7E}}), A::dcs_hook, S(St::dcs_passthrough)},
    {S(St::dcs_entry), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::dcs_param), kC0, A::none, kStay},
    {S(St::dcs_param), set({{0x20, 0x2F}}), A::collect, S(St::dcs_intermediate)},
    {S(St::dcs_param), set({{0x30, 0x3B}}), A::param, kStay},
    {S(St::dcs_param), set({{0x3C, 0x3F}}), A::none, S(St::dcs_ignore)},
    {S(St::dcs_param), set({{0x40, 0x7E}}), A::dcs_hook, S(St::dcs_passthrough)},
    {S(St::dcs_param), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::dcs_ignore), kC0, A::none, kStay},
    {S(St::dcs_ignore), set({{0x20, 0x7F}, {160, 160}}), A::none, kStay},

    {S(St::dcs_intermediate), kC0, A::none, kStay},
    {S(St::dcs_intermediate), set({{0x20, 0x2F}}), A::collect, kStay},
    {S(St::dcs_intermediate), set({{0x30, 0x3F}}), A::none, S(St::dcs_ignore)},
    {S(St::dcs_intermediate), set({{0x40, 0x7E}}), A::dcs_hook, S(St::dcs_passthrough)},
    {S(St::dcs_intermediate), set({{0x7F, 0x7F}}), A::none, kStay},

    {S(St::dcs_passthrough), kC0, A::dcs_put, kStay},
    {S(St::dcs_passthrough), set({{0x20, 0x7E}, {160, 160}}), A::dcs_put, kStay},
    {S(St::dcs_passthrough), set({{0x7F, 0x7F}}), A::none, kStay},
    {S(St::dcs_passthrough), set({{0x18, 0x18}, {0x1A, 0x1B}, {0x9C, 0x9C}}), A::dcs_unhook,
     S(St::ground)},
};

struct Table {
  uint8_t entries[kStateCount * 256];
};

constexpr Table build_table() {
  Table t{};
  constexpr uint8_t kDefault = static_cast<uint8_t>(A::ignore) << 4 | S(St::ground);
  for (uint8_t& e : t.entries) e = kDefault;
  for (const Rule& r : kRules) {
    for (int s = 0; s < kStateCount; ++s) {
      if (r.state != kAny && r.state != s) continue;
      uint8_t next = r.next == kStay ? static_cast<uint8_t>(s) : r.next;
      for (int i = 0; i < r.classes.count; ++i)
        for (int c = r.classes.spans[i].first; c <= r.classes.spans[i].last; ++c)
          t.entries[s * 256 + c] = static_cast<uint8_t>(static_cast<uint8_t>(r.action) << 4 | next);
    }
  }
  return t;
}

constexpr Table kTable = build_table();

}  // namespace

const uint8_t* parser_table() { return kTable.entries; }

uint8_t parser_table_entry(State state, uint32_t cls) {
  return kTable.entries[static_cast<size_t>(state) * 256 + (cls < 160 ? cls : 160)];
}

void parser_clear(Parser& p) {
  p.params[0] = 0;
  p.param_count = 1;
  p.sub_count = 0;
  p.sub_begin[0] = 0;
  p.sub_end[0] = 0;
  p.param_overflow = false;
  p.sub_overflow = false;
  p.in_sub = false;
  p.intermediates = 0;
}

Parser parser_new() {
  Parser p;
  parser_clear(p);
  return p;
}

}  // namespace mossbank::term
