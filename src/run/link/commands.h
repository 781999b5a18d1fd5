// What the village can make a wrapped run do: every event of the command
// stream, handled on the link's thread one after another in stream order.
//
// A command whose fields fail their checks is dropped without an answer;
// `talk`, `keys`, `interrupt` and `restart` go to take_village_request,
// which answers them. Texts are measured in UTF-16 units, as the village
// counts them.
//
// Size rules: the agent has the size of whoever typed last. In a run with a
// terminal of its own, the village's `resize` is recorded and put in force;
// the village's `input` puts a recorded size back in force; `own-size`, a
// dropped stream and the user's own keys give the agent the user's size
// again. A run without a terminal of its own takes the village's size,
// unless its stdout was a terminal when it started.
//
// Locks: resize_screen and the watch hold the screen lock and then the
// publisher lock; everything else takes one lock at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/status.h"
#include "run/link/frames.h"
#include "run/link/link.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

// The agent is killed hard this long after the first `stop`.
inline constexpr std::chrono::seconds kHardKillAfter{3};

// Handles one event. A failure that must end the link (a thread that could
// not be started) comes back; the link then ends with it.
[[nodiscard]] Status handle_command(RunShared& run, const LinkEvent& event);

// The first stop: SIGHUP now and SIGKILL after `grace` (a job of the run that
// the run's end cuts short); false when that job could not be started. A
// later stop does nothing.
[[nodiscard]] bool stop_agent(RunShared& run, std::chrono::nanoseconds grace = kHardKillAfter);

// Gives the agent and the screen a new size and tells the output stream.
void resize_screen(RunShared& run, uint16_t cols, uint16_t rows);

// The window size of a terminal descriptor; none when unknown or a side is 0.
std::optional<std::pair<uint16_t, uint16_t>> our_terminal_size(int fd = 1);

// The user's terminal size, else the screen's (cols, rows).
std::pair<uint16_t, uint16_t> current_size(RunShared& run);

// The user's size wins again over a village size in force.
void take_own_size(RunShared& run);

// The village stops watching: the publisher's watch ends and its stream goes.
void end_watch(RunShared& run);

// Under the publisher lock (and, with a snapshot, the screen lock taken
// before it): marks the publisher watched, then queues the snapshot's 'J'
// frame, or without one asks for the output stream to open.
void send_watch_frame(RunShared& run, std::optional<Frame> snapshot);

// Records the agent's session in the registration object, which the daemon
// sees at the next registration.
void set_session_id(RunShared& run, std::string_view session_id, bool from_records);

// A session id's form (screen::is_session_id): five groups of 8, 4, 4, 4
// and 12 characters 0-9 or a-f joined by "-".
bool is_session_uuid(std::string_view text);

}  // namespace mossbank::run
