// The agents' input boxes: is one on screen, ready for typing, and does it
// hold typed text?
//
// Each agent draws its box its own way (its row's input_box names which):
//   grok, codex    a bare box that seven patterns describe (BoxPatterns):
//                  the prompt row, continuation rows, the row that closes
//                  the box below, the placeholder of an empty box, ...
//   opencode       a box with a heavy left bar (read_side_box)
//   antigravity    the input between two long rules (ruled_box_input_empty)
//   claude         a "❯" row between rules (has_claude_prompt_box)
// Box rows are compared without their trailing blanks, and a row of only
// blanks counts as empty: agents pad their rows with blanks (OpenCode fills
// every row, Codex leaves a row of one blank under its composer).
//
// An input box on screen means the agent waits for a new prompt, unless an
// approval prompt shows: has_input_box asks the approval test it is given.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen/agents.h"
#include "screen/screen_pattern.h"

namespace mossbank::screen {

// Whether the screen shows an approval prompt for the agent.
using ApprovalTest = bool (*)(std::optional<AgentName> agent, std::string_view screen);

// The failure message of the boxes' patterns.
inline constexpr std::string_view kBoxPatternFailure = "a pattern of the agents' boxes";

struct BoxPatterns {
  const ScreenPattern& prompt;        // group 1: the prefix skipped when reading
  const ScreenPattern& continuation;  // a further input row
  const ScreenPattern& bottom;        // the row that closes the box below the input
  const ScreenPattern& placeholder;   // the text of an empty box
  const ScreenPattern& cleanup;       // replaced by one blank in every row first
  const ScreenPattern* exclusion;     // when it matches the screen: no box
  const ScreenPattern* footer;        // a row below the box while it is empty
  // Quick tests that a text cannot match the cleanup or the exclusion: the
  // patterns then need not run (they run on every row of every screen).
  bool (*cleanup_may_match)(std::string_view row);
  bool (*exclusion_may_match)(std::string_view screen);
};

// Grok's and Codex's bare boxes.
extern const BoxPatterns grok_box_patterns;
extern const BoxPatterns codex_box_patterns;

// The set of the agent's row (bare_box); none for an agent without one.
const BoxPatterns* box_patterns_for(std::string_view agent);

// The row that closes a bare box: the last non-empty row (from row 1 on) or
// one of the three rows above it that matches `bottom`.
std::optional<size_t> find_box_bottom(const std::vector<std::string>& rows,
                                      const ScreenPattern& bottom);

// The prompt row and the last input row above the bottom row.
std::optional<std::pair<size_t, size_t>> find_box_rows(const std::vector<std::string>& rows,
                                                       const BoxPatterns& set,
                                                       std::optional<size_t> bottom);

// A bare or ruled box as found: its prompt row, last input row and text.
struct InputBox {
  size_t prompt_row = 0;
  size_t last_row = 0;
  std::string text;  // the last input row (bare) or all input rows (ruled), trimmed
};

// Grok's or Codex's bare box, as has_input_box reads it before it asks
// whether the box counts; none for other agents or when there is none.
std::optional<InputBox> read_bare_box(std::string_view agent, std::string_view screen);

// An input box ready for typing is on screen.
bool has_input_box(std::optional<AgentName> agent, std::string_view screen, bool shell_mode,
                   ApprovalTest is_approval_prompt);

// The agent's input box is on screen and holds no typed text.
bool input_box_is_empty(std::optional<AgentName> agent, std::string_view screen);

// OpenCode's typed text ("" for an empty box); none for other agents or
// when its box is not found.
std::optional<std::string> read_side_box(std::optional<AgentName> agent, std::string_view screen);

// Antigravity's box as found (none for other agents), and whether it is
// empty (a mode line in place of the text counts as empty).
std::optional<InputBox> read_ruled_box(std::optional<AgentName> agent, std::string_view screen);
bool ruled_box_input_empty(std::optional<AgentName> agent, std::string_view screen);

// Claude Code's prompt row ("❯" in the first column under a rule; with
// shell_mode also a "!" row with rules above and below) is on screen.
bool has_claude_prompt_box(std::string_view screen, bool shell_mode);

}  // namespace mossbank::screen
