// The link, the run's thread "village's commands": it keeps the run known to
// the village daemon and carries the village's commands back to the run.
//
// Attempt after attempt: prove the daemon (the route is set from here on),
// register the run (POST /api/runs with a copy of the registration object),
// open GET /api/runs/<id>/commands as an event stream on a socket of its
// own, and hand each event to handle_command. When the stream ends, for any
// reason, the route is cleared, Dropped is handed over, and the next attempt
// follows after 500, 1000, 2000, then 5000 ms; a stream that carried `ready`
// starts the delays over. `unknown-run` ends the stream, so the run
// registers again. Failures are silent.
//
// A village switched off by the tray stops a village-owned run; switched
// off otherwise, only `stop` reaches a village-owned run and nothing reaches
// any other.
//
// The stream's socket has a duplicate in the link's stream slot (from its
// connect to the attempt's end), so that the run's end, and a post the
// daemon refused with 401, can shut it from another thread and end the read
// at once. Every wait between attempts is on the run's waker.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "base/json.h"
#include "base/status.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

namespace link_event {
struct Command {
  JsonValue value;  // the `data` of a `command` event, parsed
};
struct Ready {};    // the stream said `ready`
struct Dropped {};  // an attempt ended
}  // namespace link_event

// What the link hands to handle_command.
using LinkEvent = std::variant<link_event::Command, link_event::Ready, link_event::Dropped>;

struct LinkSettings {
  std::array<std::chrono::milliseconds, 4> delays{
      std::chrono::milliseconds(500), std::chrono::milliseconds(1000),
      std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)};
  std::chrono::milliseconds connect_timeout{2000};
  // A stream that carries no byte this long is given up.
  std::chrono::milliseconds read_timeout{75000};
  // The wait between attempts; false when the link is to end. Default: on
  // the run's waker, until the delay passes or the stop flag is set.
  std::function<bool(RunShared&, std::chrono::milliseconds)> pause;
  // Where events go. Default: handle_command.
  std::function<Status(RunShared&, const LinkEvent&)> handle;
};

// The thread's body. Returns when the stop flag is seen, after a tray stop,
// or with the failure that ended it (the run notes its text under
// "village's commands").
Status run_link(RunShared& run, const LinkSettings& settings = {});

// Ends the link: sets its stop flag, shuts the command stream and wakes the
// wait between attempts. The link may still finish a proof or registration
// in progress (each bounded by 2 s).
void stop_link(RunShared& run);

// The route of the last registration the daemon took (for the run's end:
// the DELETE goes there after the link has stopped).
std::optional<Route> registered_route(LinkState& link);

// Shuts the command stream's socket down, if one is open: the link's read
// ends, and so does the attempt.
void shut_command_stream(LinkState& link);

}  // namespace mossbank::run
