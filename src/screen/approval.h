// Whether the agent waits for the user's answer to a question: a permission
// request, a yes/no confirmation, a choice between options.
//
// is_approval_prompt recognises a question by any of several signs: a menu
// that read_menu (or, without an agent, the generic reader) finds; a key
// choice such as "(y/n)"; a phrase such as "Do you want to" or "esc to
// cancel"; or a group of option rows close together, one of them selected,
// that start with approval words ("1. Yes", "2. No") or carry numbers.
// Rows above the agent's own input prompt are transcript, not a question,
// and only the last 20 non-empty rows are looked at.
//
// awaiting_approval adds that the agent's input box is not on screen: a
// visible input box means the agent waits for a new prompt, not an answer.
//
// Pure functions of their arguments, safe on any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace mossbank::screen {

// A question waits on the screen: a menu, or one of the signs in the rows.
bool is_approval_prompt(std::optional<std::string_view> agent, std::string_view screen);

// A question waits and the agent's input box is not on screen.
bool awaiting_approval(std::optional<std::string_view> agent, std::string_view screen);

// One cleaned screen row read as a possible answer option.
struct OptionRow {
  size_t index = 0;       // the row's index on the screen
  bool selected = false;  // highlighted, filled or behind a cursor marker
  bool numbered = false;  // an option number, or a lettered radio option
  // kStartsWithApprovalWord, kOtherOption or kNotAnOption.
  uint8_t kind = 2;
};
inline constexpr uint8_t kOtherOption = 0;
inline constexpr uint8_t kStartsWithApprovalWord = 1;
inline constexpr uint8_t kNotAnOption = 2;

// A row without its side bars and blanks ("❯ 1. Yes", "a (●) Allow").
OptionRow classify_option_row(std::string_view row, size_t index);

// More than one member starts with an approval word and one of those is
// selected, or more than one is numbered and one of those is selected.
bool is_choice_group(std::span<const OptionRow> group);

// The signs in the rows alone, no menu reader asked.
bool approval_signs_in_rows(std::string_view screen);

}  // namespace mossbank::screen
