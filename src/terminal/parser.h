// The escape-sequence parser: a state machine of the DEC-compatible VT
// shape (ground, escape, CSI, DCS, OSC and string states) driven by a
// transition table that is written as data in parser.cpp. Its state lives in
// the terminal between feeds, so a sequence split across reads parses as one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace mossbank::term {

enum class State : uint8_t {
  ground,
  escape,
  escape_intermediate,
  csi_entry,
  csi_param,
  csi_intermediate,
  csi_ignore,
  sos_pm_apc_string,
  osc_string,
  dcs_entry,
  dcs_param,
  dcs_ignore,
  dcs_intermediate,
  dcs_passthrough,
};
inline constexpr int kStateCount = 14;

enum class Action : uint8_t {
  none,
  ignore,
  print,
  execute,
  osc_start,
  osc_put,
  osc_end,
  csi_dispatch,
  param,
  collect,
  esc_dispatch,
  clear,
  dcs_hook,
  dcs_put,
  dcs_unhook,
};

// Where an OSC string is: before it, in its number, in its text after the
// ';', or past something that makes it no OSC the terminal carries out.
enum class OscPhase : uint8_t { idle, number, text, invalid };

inline constexpr size_t kMaxParams = 32;
inline constexpr size_t kMaxSubParams = 32;
inline constexpr size_t kMaxOscBytes = 10'000'000;
inline constexpr uint32_t kMaxDcsUnits = 10'000'000;

struct Parser {
  std::array<int32_t, kMaxParams> params{};
  uint8_t param_count = 1;  // a fresh sequence has one parameter, 0
  std::array<int32_t, kMaxSubParams> sub_params{};
  uint8_t sub_count = 0;
  // For parameter i, its sub-parameters are sub_params[begin[i], end[i]).
  std::array<uint8_t, kMaxParams> sub_begin{};
  std::array<uint8_t, kMaxParams> sub_end{};
  bool param_overflow = false;
  bool sub_overflow = false;
  bool in_sub = false;
  uint32_t intermediates = 0;

  std::string osc_text;
  int32_t osc_number = -1;
  OscPhase osc_phase = OscPhase::idle;
  bool osc_overflow = false;

  std::optional<std::string> dcs_text;  // only while a DECRQSS is captured
  uint32_t dcs_units = 0;

  State state = State::ground;

  // Parameter i, 0 when absent.
  int32_t param(size_t i) const { return i < param_count ? params[i] : 0; }
  // The sub-parameters of parameter i (empty past the parameters).
  size_t sub_param_count(size_t i) const { return i < param_count ? sub_end[i] - sub_begin[i] : 0; }
  int32_t sub_param(size_t i, size_t j) const { return sub_params[sub_begin[i] + j]; }
};

// The table: a row of kRowWidth entries a state. An entry is an action in
// the high nibble and the next state in the low one; its column is the
// class of the code point, the code point itself below kHighClass and
// kHighClass for the rest.
inline constexpr uint32_t kHighClass = 160;
inline constexpr uint32_t kRowWidth = 256;
inline constexpr uint32_t kActionShift = 4;
inline constexpr uint8_t kNextStateMask = 0x0F;

constexpr uint32_t char_class(uint32_t cp) { return cp < kHighClass ? cp : kHighClass; }
constexpr uint8_t table_entry(Action action, uint8_t next_state) {
  return static_cast<uint8_t>(static_cast<uint8_t>(action) << kActionShift | next_state);
}

Parser parser_new();
void parser_clear(Parser& p);

// The table entry for (state, the class of cls).
uint8_t parser_table_entry(State state, uint32_t cls);
// The whole table, indexed by state * kRowWidth + class.
const uint8_t* parser_table();

}  // namespace mossbank::term
