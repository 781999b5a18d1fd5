// The village's requests that press keys without typing a prompt, carried
// out on the request worker's thread; each ends in one outcome word.
//
//   keys       presses keys in the menu the agent shows, only while it is
//              still the menu the village read (its text, and the selected
//              option when the village names one)
//   interrupt  the agent's own interrupt keys (Esc, or Ctrl-C), refused
//              while a question waits or, for Ctrl-C agents, when idle
//   restart    the agent's exit command typed into its box, so that the run
//              loop starts it again in the same conversation. The pending
//              restart is stored before Enter is pressed, since an agent may
//              exit at once; a refused exit command takes it back. For 6 s a
//              watch looks whether the agent asks a question instead of
//              exiting: then the restart is cancelled, the question is
//              answered with Esc, and the next restart answers "permission".
//
// The launch words and the pending restart are read and written under their
// locks; the upgrade and cancelled flags are atomic. Every wait is cut short
// by the run's end.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "run/requests/requests.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

// A restart counts as pending this long after it was asked for.
inline constexpr std::chrono::milliseconds kRestartWindow{60000};
// The interrupt keys go this far apart.
inline constexpr std::chrono::milliseconds kInterruptKeyGap{80};
// The restart watch looks this often, this many times.
inline constexpr std::chrono::milliseconds kRestartWatchInterval{400};
inline constexpr int kRestartWatchLooks = 15;

// serve_keys_request, serve_interrupt_request and serve_restart_request are
// declared with the request worker that calls them (requests.h).

// The restart watch's body: returns when the agent exited, the restart was
// cancelled, the run stops, or the looks are over.
void watch_restart_exit(RunShared& run);

// The launch words of a restart: an empty list when `launch` is absent;
// none (refused) when it is not a list of at most 16 texts of 1 to 100
// characters from A-Z, a-z, 0-9 and "._:/=-[]".
std::optional<std::vector<std::string>> launch_words_of(const JsonValue& command);

// Whether a restart was asked for within the window, on the monotonic clock.
bool restart_pending(RunShared& run, std::chrono::steady_clock::time_point now);

}  // namespace mossbank::run
