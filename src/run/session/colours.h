// The user's terminal colours, picked out of the keys on their way to the
// agent: answers to OSC 4 (palette), 10 (foreground), 11 (background) and
// 12 (cursor) queries, which the agent asked and the terminal answered.
//
// The colour record is a JSON object of "foreground", "background",
// "cursor" (each "#rrggbb") and "palette" (16 entries, "#rrggbb" or null),
// keys in the order first set. An answer cut between two reads is completed
// by the next: the possible start of one is kept as the tail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/json.h"

namespace mossbank::run {

// "#rrggbb" for "#RRGGBB" (any case) or "rgb:R/G/B" / "rgba:R/G/B/A" with
// 1 to 4 hexadecimal digits per component; none otherwise.
std::optional<std::string> normalise_colour(std::string_view text);

// n hexadecimal digits (1 to 4) scaled to two: floor(v / (16^n - 1) * 255 + 0.5).
std::string hex_component(std::string_view digits);

// Reads the colour answers in tail + bytes into the record; true when the
// record changed. The tail becomes the unfinished answer at the end, if any.
bool take_colour_answers(JsonValue& record, std::string& tail, std::string_view bytes);

}  // namespace mossbank::run
