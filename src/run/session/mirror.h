// The screen mirror, the run's thread "screen": posts a snapshot of the
// agent's screen to /api/runs/<id>/screen whenever it changed, quickly while
// someone types (a hold of 1.5 s after typed input) and at a calmer pace
// otherwise, and lets the activity's working mark lapse once the agent has
// gone quiet.
//
// The mirror sleeps until something can matter: the screen's first change
// after a look (post_screen_locked), a hold beginning (hold_state_briefly),
// the time of its next look or activity check, or the run's end. An idle run
// does not wake it at all.
//
// Snapshot body, keys in this order: "serialized" (only while the village
// asked for screens: the visible rows as an escape stream, then the
// presentation), "cols", "rows", "text", "coloured", "caret" {"x","y"}, "at"
// (ms since the epoch).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/json.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

using MirrorClock = std::chrono::steady_clock;

struct MirrorTimings {
  std::chrono::milliseconds hold{1500};      // after typed input
  std::chrono::milliseconds hold_look{40};   // looks at most this often in a hold
  std::chrono::milliseconds calm_look{250};  // ... and otherwise
  std::chrono::milliseconds settle{40};      // outside a hold, a change waits this long
  std::chrono::milliseconds activity_check{500};
  std::chrono::milliseconds activity_watch{3000};  // checks go on this long after a change
  std::chrono::milliseconds working_lapse{2500};
};

// When the mirror looks at a change first seen at `changed_at` (pure): in a
// hold at once, but not within hold_look of the last look; otherwise once it
// has settled, and not within calm_look of the last look.
MirrorClock::time_point next_look_at(const MirrorTimings& timings, MirrorClock::time_point now,
                                     MirrorClock::time_point hold_until,
                                     MirrorClock::time_point last_look,
                                     MirrorClock::time_point changed_at);

// The screen as a snapshot carries it, read under the screen lock.
struct ScreenSnapshot {
  std::optional<std::string> serialized;
  uint32_t cols = 0;
  uint32_t rows = 0;
  std::string text;
  std::string coloured;
  uint32_t caret_x = 0;
  uint32_t caret_y = 0;
  uint64_t at = 0;
};

// Under the screen lock.
ScreenSnapshot take_snapshot(const ScreenRecord& screen, uint64_t at_ms);
JsonValue snapshot_body(const ScreenSnapshot& snapshot);

// The typing hold: the mirror looks every 40 ms for the next 1.5 s.
void hold_state_briefly(RunShared& run);

// The thread body; returns at the run's end or the first look after the
// stopping flag.
void run_mirror(const std::shared_ptr<RunShared>& run, const MirrorTimings& timings = {});

}  // namespace mossbank::run
