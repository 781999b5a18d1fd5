// Whether the agent is working: the output pump's decision per piece of
// output, the mirror's lapse after quiet, and the posts of each change.
//
// A piece counts as work unless it is the echo of what was just typed or the
// redraw after a resize; working starts once the counted output of the last
// second reaches 256 bytes. "asked" says the village's talk started it (a
// talk sent within the last 60 s). Times are ms since the Unix epoch.
#pragma once

#include <cstddef>
#include <optional>

#include "base/json.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

struct ActivityChange {
  bool working = false;
  bool asked = false;
};

// The pump's decision for a piece of `length` bytes at `now` (under the
// activity lock); a change to report, or none.
std::optional<ActivityChange> decide_activity(ActivityRecord& record, double now, size_t length);

// The mirror's check: working lapses 2,500 ms after the last busy output.
std::optional<ActivityChange> lapse_activity(ActivityRecord& record, double now);

// The body {"working", "asked"}, kept as the last posted (under the activity
// lock) for the link's ready.
JsonValue activity_body(ActivityRecord& record, const ActivityChange& change);

// The village's talk was sent: it counts as asked, and a turn already
// under way becomes the village's own (a change to report when it does).
std::optional<ActivityChange> note_village_talk(ActivityRecord& record, double now);

// Input reached the agent (the user's keys, the village's input or typing).
void note_input(ActivityRecord& record, double now);

}  // namespace mossbank::run
