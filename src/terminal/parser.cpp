#include "terminal/parser.h"

#include <array>
#include <initializer_list>

namespace mossbank::term {

namespace {

// The transition table as data (its layout: parser.h); everything not named
// below is (ignore, ground).

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

using StateSet = uint16_t;  // one bit a State
static_assert(kStateCount <= 16);

constexpr StateSet in(std::initializer_list<State> states) {
  StateSet set = 0;
  for (State s : states) set |= static_cast<StateSet>(1u << static_cast<unsigned>(s));
  return set;
}
constexpr StateSet kAnyState = (1u << kStateCount) - 1;

struct Rule {
  StateSet states;
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
    {in({St::ground}), set({{0x20, 0x7E}, {kHighClass, kHighClass}}), A::print, S(St::ground)},

    // Anywhere: C1 controls and the string and sequence introducers.
    {kAnyState, set({{0x18, 0x18}, {0x1A, 0x1A}, {0x80, 0x8F}, {0x91, 0x97}, {0x99, 0x9A}}),
     A::execute, S(St::ground)},
    {kAnyState, set({{0x1B, 0x1B}}), A::clear, S(St::escape)},
    {kAnyState, set({{0x90, 0x90}}), A::clear, S(St::dcs_entry)},
    {kAnyState, set({{0x9B, 0x9B}}), A::clear, S(St::csi_entry)},
    {kAnyState, set({{0x9D, 0x9D}}), A::osc_start, S(St::osc_string)},
    {kAnyState, set({{0x98, 0x98}, {0x9E, 0x9F}}), A::none, S(St::sos_pm_apc_string)},
    {kAnyState, set({{0x9C, 0x9C}}), A::none, S(St::ground)},

    // C0 controls take effect in the ground state and inside ESC and CSI
    // sequences; inside DCS sequences and strings they do nothing.
    {in({St::ground, St::escape, St::escape_intermediate, St::csi_entry, St::csi_param,
         St::csi_intermediate, St::csi_ignore}),
     kC0, A::execute, kStay},
    {in({St::sos_pm_apc_string, St::osc_string, St::dcs_entry, St::dcs_param, St::dcs_ignore,
         St::dcs_intermediate}),
     kC0, A::none, kStay},
    // DEL does nothing inside a sequence.
    {in({St::escape, St::escape_intermediate, St::csi_entry, St::csi_param, St::csi_intermediate,
         St::dcs_entry, St::dcs_param, St::dcs_intermediate, St::dcs_passthrough}),
     set({{0x7F, 0x7F}}), A::none, kStay},

    {in({St::escape}), set({{0x20, 0x2F}}), A::collect, S(St::escape_intermediate)},
    {in({St::escape}), set({{0x30, 0x4F}, {0x51, 0x57}, {0x59, 0x5A}, {0x5C, 0x5C}, {0x60, 0x7E}}),
     A::esc_dispatch, S(St::ground)},
    {in({St::escape}), set({{0x50, 0x50}}), A::clear, S(St::dcs_entry)},
    {in({St::escape}), set({{0x58, 0x58}, {0x5E, 0x5F}}), A::none, S(St::sos_pm_apc_string)},
    {in({St::escape}), set({{0x5B, 0x5B}}), A::clear, S(St::csi_entry)},
    {in({St::escape}), set({{0x5D, 0x5D}}), A::osc_start, S(St::osc_string)},

    {in({St::escape_intermediate}), set({{0x20, 0x2F}}), A::collect, kStay},
    {in({St::escape_intermediate}), set({{0x30, 0x7E}}), A::esc_dispatch, S(St::ground)},

    {in({St::csi_ignore}), set({{0x20, 0x3F}, {0x7F, 0x7F}, {kHighClass, kHighClass}}), A::none,
     kStay},
    {in({St::csi_ignore}), set({{0x40, 0x7E}}), A::none, S(St::ground)},

    {in({St::sos_pm_apc_string}), set({{0x20, 0x7F}}), A::none, kStay},
    {in({St::sos_pm_apc_string}), set({{0x9C, 0x9C}}), A::none, S(St::ground)},

    {in({St::osc_string}), set({{0x20, 0x7F}, {kHighClass, kHighClass}}), A::osc_put, kStay},
    {in({St::osc_string}), set({{0x07, 0x07}, {0x18, 0x18}, {0x1A, 0x1B}, {0x9C, 0x9C}}),
     A::osc_end, S(St::ground)},

    {in({St::dcs_ignore}), set({{0x20, 0x7F}, {kHighClass, kHighClass}}), A::none, kStay},

    {in({St::dcs_passthrough}), kC0, A::dcs_put, kStay},
    {in({St::dcs_passthrough}), set({{0x20, 0x7E}, {kHighClass, kHighClass}}), A::dcs_put, kStay},
    {in({St::dcs_passthrough}), set({{0x18, 0x18}, {0x1A, 0x1B}, {0x9C, 0x9C}}), A::dcs_unhook,
     S(St::ground)},
};

// CSI and DCS sequences share one grammar: parameters (a private marker may
// come first), intermediates, then the final byte, which dispatches a CSI
// and starts a DCS's data. A misplaced marker or digit spoils the sequence.
struct SequenceStates {
  State entry;
  State param;
  State intermediate;
  State ignore;
  Action on_final;
  State after_final;
};

constexpr SequenceStates kCsiStates{St::csi_entry,  St::csi_param,   St::csi_intermediate,
                                    St::csi_ignore, A::csi_dispatch, St::ground};
constexpr SequenceStates kDcsStates{St::dcs_entry,  St::dcs_param, St::dcs_intermediate,
                                    St::dcs_ignore, A::dcs_hook,   St::dcs_passthrough};

constexpr std::array<Rule, 8> sequence_rules(const SequenceStates& s) {
  return {{
      {in({s.entry, s.param}), set({{0x20, 0x2F}}), A::collect, S(s.intermediate)},
      {in({s.entry}), set({{0x30, 0x3B}}), A::param, S(s.param)},
      {in({s.entry}), set({{0x3C, 0x3F}}), A::collect, S(s.param)},
      {in({s.param}), set({{0x30, 0x3B}}), A::param, kStay},
      {in({s.param}), set({{0x3C, 0x3F}}), A::none, S(s.ignore)},
      {in({s.intermediate}), set({{0x20, 0x2F}}), A::collect, kStay},
      {in({s.intermediate}), set({{0x30, 0x3F}}), A::none, S(s.ignore)},
      {in({s.entry, s.param, s.intermediate}), set({{0x40, 0x7E}}), s.on_final, S(s.after_final)},
  }};
}

struct Table {
  uint8_t entries[kStateCount * kRowWidth];
};

constexpr void apply(Table& t, const Rule& r) {
  for (int s = 0; s < kStateCount; ++s) {
    if (!(r.states >> s & 1)) continue;
    const uint8_t next = r.next == kStay ? static_cast<uint8_t>(s) : r.next;
    for (int i = 0; i < r.classes.count; ++i)
      for (int c = r.classes.spans[i].first; c <= r.classes.spans[i].last; ++c)
        t.entries[s * kRowWidth + c] = table_entry(r.action, next);
  }
}

constexpr Table build_table() {
  Table t{};
  constexpr uint8_t kDefault = table_entry(A::ignore, S(St::ground));
  for (uint8_t& e : t.entries) e = kDefault;
  for (const Rule& r : kRules) apply(t, r);
  // These touch only their own states' bytes 0x20-0x7E, which no rule above does.
  for (const Rule& r : sequence_rules(kCsiStates)) apply(t, r);
  for (const Rule& r : sequence_rules(kDcsStates)) apply(t, r);
  return t;
}

constexpr Table kTable = build_table();

}  // namespace

const uint8_t* parser_table() { return kTable.entries; }

uint8_t parser_table_entry(State state, uint32_t cls) {
  return kTable.entries[static_cast<size_t>(state) * kRowWidth + char_class(cls)];
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
