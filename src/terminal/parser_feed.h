// The parser's feed loop, generic over the sink that carries out its
// actions, so that the terminal and the parser's own tests share it. A sink
// provides:
//   const uint8_t* print(const uint8_t* p, const uint8_t* end);  // a run
//   void execute(uint32_t code);
//   void csi(uint32_t key, const Parser& p);   // key = final | intermediates << 8
//   void esc(uint32_t key);
//   void osc(int32_t number, const std::string& text);
//   void dcs_request(const std::string& text); // DECRQSS, text "" when too long
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "terminal/parser.h"
#include "terminal/sequences.h"
#include "terminal/utf8.h"

namespace mossbank::term {

namespace feed_detail {

// The one DCS string the terminal answers: a request for a setting.
inline constexpr uint32_t kDecrqss = seq_key('q', '$');

inline int32_t saturating_digit(int32_t value, uint32_t digit) {
  int64_t v = int64_t{value} * 10 + digit;
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

inline void param_byte(Parser& ps, uint8_t c) {
  if (c <= '9') {
    uint32_t d = c - '0';
    if (ps.in_sub) {
      if (ps.param_overflow || ps.sub_overflow || ps.sub_count == 0) return;
      int32_t& v = ps.sub_params[ps.sub_count - 1];
      v = v == -1 ? static_cast<int32_t>(d) : saturating_digit(v, d);
    } else {
      if (ps.param_overflow) return;
      int32_t& v = ps.params[ps.param_count - 1];
      v = v == -1 ? static_cast<int32_t>(d) : saturating_digit(v, d);
    }
    return;
  }
  if (c == ';') {
    ps.in_sub = false;
    if (ps.param_count == kMaxParams) {
      ps.param_overflow = true;
      return;
    }
    ps.params[ps.param_count] = 0;
    ps.sub_begin[ps.param_count] = ps.sub_count;
    ps.sub_end[ps.param_count] = ps.sub_count;
    ++ps.param_count;
    return;
  }
  // ':' starts a sub-parameter of the current parameter.
  ps.in_sub = true;
  if (ps.param_overflow || ps.sub_count == kMaxSubParams) {
    ps.sub_overflow = true;
    return;
  }
  ps.sub_params[ps.sub_count++] = -1;
  ps.sub_end[ps.param_count - 1] = ps.sub_count;
}

// The OSC text keeps its memory only while it is small.
inline void reset_osc(Parser& ps) {
  ps.osc_number = -1;
  if (ps.osc_text.capacity() > 65536) {
    std::string().swap(ps.osc_text);
  } else {
    ps.osc_text.clear();
  }
  ps.osc_phase = OscPhase::idle;
}

inline void osc_append(Parser& ps, const char* bytes, size_t n) {
  if (ps.osc_overflow) return;
  if (ps.osc_text.size() + n > kMaxOscBytes) {
    ps.osc_overflow = true;
    std::string().swap(ps.osc_text);
    return;
  }
  ps.osc_text.append(bytes, n);
}

// Decodes one code point; a sequence cut off at the end of the feed reads
// as U+FFFD and takes the rest.
inline uint32_t next_cp(const uint8_t*& p, const uint8_t* end) {
  uint32_t cp = decode_utf8(p, end);
  if (cp == kIncomplete) {
    p = end;
    return kReplacement;
  }
  return cp;
}

// ---- The steps of the feed loop. Those that take a run of code points
// return where the run stopped.

// The run of parameter bytes (digits, ';' and ':') at p.
[[gnu::always_inline]] inline const uint8_t* param_run(Parser& ps, const uint8_t* p,
                                                       const uint8_t* end) {
  while (p < end && *p >= 0x30 && *p <= 0x3B) param_byte(ps, *p++);
  return p;
}

inline void osc_start(Parser& ps) {
  ps.osc_number = -1;
  ps.osc_text.clear();
  ps.osc_overflow = false;
  ps.osc_phase = OscPhase::number;
}

// The run of code points that are neither C0 nor C1 controls: the OSC
// number, then its text.
[[gnu::always_inline]] inline const uint8_t* osc_put(Parser& ps, const uint8_t* q,
                                                     const uint8_t* end) {
  while (q < end) {
    uint8_t c = *q;
    if (c < 0x80) {
      if (c < 0x20) break;
      if (ps.osc_phase == OscPhase::text) {
        const uint8_t* r = q + 1;
        while (r < end && *r >= 0x20 && *r < 0x80) ++r;
        osc_append(ps, reinterpret_cast<const char*>(q), static_cast<size_t>(r - q));
        q = r;
        continue;
      }
      if (ps.osc_phase == OscPhase::number) {
        if (c >= '0' && c <= '9') {
          ps.osc_number = saturating_digit(std::max(ps.osc_number, 0), c - '0');
        } else {
          ps.osc_phase = c == ';' ? OscPhase::text : OscPhase::invalid;
        }
      }
      ++q;
      continue;
    }
    const uint8_t* r = q;
    uint32_t u = next_cp(r, end);
    if (is_c1(u)) break;
    if (ps.osc_phase == OscPhase::number) {
      ps.osc_phase = OscPhase::invalid;
    } else if (ps.osc_phase == OscPhase::text) {
      if (u == kReplacement) {
        osc_append(ps, "\xEF\xBF\xBD", 3);
      } else {
        osc_append(ps, reinterpret_cast<const char*>(q), static_cast<size_t>(r - q));
      }
    }
    q = r;
  }
  return q;
}

// CAN and SUB abort a string without dispatching it.
inline bool aborts_string(uint32_t terminator) {
  return terminator == ctl::CAN || terminator == ctl::SUB;
}

// A string ended by ESC goes on in the escape state, so that the "\" of an
// ESC \ terminator is read as an ESC sequence (which does nothing).
inline uint32_t state_after_string(uint32_t terminator, uint32_t next_state) {
  return terminator == ctl::ESC ? static_cast<uint32_t>(State::escape) : next_state;
}

// The ends of a string return the state to go on in.
template <class Sink>
uint32_t osc_end(Parser& ps, Sink& sink, uint32_t terminator, uint32_t next_state) {
  const bool carried_out = ps.osc_phase == OscPhase::number || ps.osc_phase == OscPhase::text;
  if (carried_out && !ps.osc_overflow && !aborts_string(terminator))
    sink.osc(ps.osc_number, ps.osc_text);
  reset_osc(ps);
  parser_clear(ps);
  return state_after_string(terminator, next_state);
}

inline void dcs_hook(Parser& ps, uint32_t final_byte) {
  if ((final_byte | ps.intermediates << 8) == kDecrqss) {
    ps.dcs_text.emplace();
  } else {
    ps.dcs_text.reset();
  }
  ps.dcs_units = 0;
}

// The run of code points up to a CAN, SUB, ESC or C1 control; a DECRQSS
// keeps its first two UTF-16 units and counts the rest.
[[gnu::always_inline]] inline const uint8_t* dcs_put(Parser& ps, const uint8_t* q,
                                                     const uint8_t* end) {
  while (q < end) {
    const uint8_t* r = q;
    uint32_t u = next_cp(r, end);
    if (u == ctl::CAN || u == ctl::SUB || u == ctl::ESC || is_c1(u)) break;
    if (ps.dcs_text) {
      uint32_t add = u > 0xFFFF ? 2 : 1;
      ps.dcs_units = ps.dcs_units > UINT32_MAX - add ? UINT32_MAX : ps.dcs_units + add;
      if (ps.dcs_units <= 2) {
        if (u == kReplacement) {
          ps.dcs_text->append("\xEF\xBF\xBD");
        } else {
          ps.dcs_text->append(reinterpret_cast<const char*>(q), static_cast<size_t>(r - q));
        }
      }
    }
    q = r;
  }
  return q;
}

template <class Sink>
uint32_t dcs_unhook(Parser& ps, Sink& sink, uint32_t terminator, uint32_t next_state) {
  if (ps.dcs_text && !aborts_string(terminator) && ps.dcs_units <= kMaxDcsUnits) {
    if (ps.dcs_units > 2) ps.dcs_text->clear();
    sink.dcs_request(*ps.dcs_text);
  }
  ps.dcs_text.reset();
  parser_clear(ps);
  return state_after_string(terminator, next_state);
}

}  // namespace feed_detail

template <class Sink>
void parser_feed(Parser& ps, Sink& sink, const uint8_t* p, const uint8_t* end) {
  using namespace feed_detail;
  const uint8_t* table = parser_table();
  uint32_t state = static_cast<uint32_t>(ps.state);
  while (p < end) {
    const uint8_t* next = p;
    const uint32_t cp = next_cp(next, end);
    const uint8_t entry = table[state * kRowWidth + char_class(cp)];
    uint32_t next_state = entry & kNextStateMask;
    switch (static_cast<Action>(entry >> kActionShift)) {
      case Action::none:
      case Action::ignore:
        break;
      case Action::print:
        next = sink.print(p, end);
        break;
      case Action::execute:
        sink.execute(cp);
        break;
      case Action::clear:
        parser_clear(ps);
        break;
      case Action::collect:
        ps.intermediates = ps.intermediates << 8 | cp;
        break;
      case Action::param:
        next = param_run(ps, p, end);
        break;
      case Action::csi_dispatch:
        sink.csi(cp | ps.intermediates << 8, ps);
        break;
      case Action::esc_dispatch:
        sink.esc(cp | ps.intermediates << 8);
        break;
      // The strings: their starts, the runs of their text, their ends.
      case Action::osc_start:
        osc_start(ps);
        break;
      case Action::dcs_hook:
        dcs_hook(ps, cp);
        break;
      case Action::osc_put:
        next = osc_put(ps, p, end);
        break;
      case Action::dcs_put:
        next = dcs_put(ps, p, end);
        break;
      case Action::osc_end:
        next_state = osc_end(ps, sink, cp, next_state);
        break;
      case Action::dcs_unhook:
        next_state = dcs_unhook(ps, sink, cp, next_state);
        break;
    }
    state = next_state;
    p = next;
  }
  ps.state = static_cast<State>(state);
}

}  // namespace mossbank::term
