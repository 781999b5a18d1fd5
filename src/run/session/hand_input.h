// What was typed by hand: the run's key filter between the user's keys (and
// the village panel's `input`) and the agent, and the record of an unsent
// draft that the village's typing must not overwrite.
//
// Every function takes the run's key-filter lock; those that read the
// screen take the screen lock inside it (the order the run fixes), and the
// screen tests run outside the screen lock on a copy of the text. The
// filter's approval and command-center tests are asked again only when the
// screen's generation has moved on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run/session/run_shared.h"
#include "screen/key_filter.h"

namespace mossbank::run {

// The filter's view of the run's screen.
screen::KeyScreen run_key_screen(RunShared& run);

// The user's keys through the filter.
// The two halves of filter_user_keys, for the keys path: the keys are
// written between them, so that a keystroke never waits for the approval
// test of the count.
screen::TakenKeys take_user_keys(RunShared& run, std::string_view bytes,
                                 screen::KeyClock::time_point now);
bool count_user_keys(RunShared& run, const screen::TakenKeys& taken);

screen::FilteredKeys filter_user_keys(RunShared& run, std::string_view bytes,
                                      screen::KeyClock::time_point now);

// When the user's held lone Esc is due to go as the Esc key; none when none
// is held.
std::optional<screen::KeyClock::time_point> user_esc_deadline(RunShared& run);

// At or after the deadline, the held Esc as the Esc key (else empty). An Esc
// that went by itself leaves no draft, as while it was held.
screen::FilteredKeys release_user_esc(RunShared& run, screen::KeyClock::time_point now);

// The village panel's typing through the filter: its removals and its count
// apply, but the user's held-back start of a sequence stays as it was and
// what the village's own keys leave unfinished goes along at once.
screen::FilteredKeys filter_village_input(RunShared& run, std::string_view data,
                                          screen::KeyClock::time_point now);

// A request's keys with the filter's removals only (replies, reports,
// releases and key records); the run's record is not touched.
std::string filter_request_keys(std::string_view keys);

// The user has typed something by hand since the last Enter that is still
// unsent, other than a lone Esc.
bool has_hand_draft(RunShared& run);

// Nothing but a lone Esc was typed by hand, no hand key in the last 0.5 s,
// and the agent's box reads empty.
bool input_box_idle(RunShared& run);

// The draft was dealt with: the line's count starts over.
void forget_hand_draft(RunShared& run);

// Bumped by everything typed by hand: a request started at another value is
// no longer current.
uint64_t input_generation(RunShared& run);

}  // namespace mossbank::run
