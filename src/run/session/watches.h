// Two watches that keep a run safe at its edges.
//
// watch_daemon_pid: an install run (started by the village's installer)
// takes the agent down when the village that started it is gone: every 1 s
// it tests the village's pid; once gone, SIGTERM to the agent's process
// group, and SIGKILL 3 s later.
//
// watch_bundle_update: a run started from inside an app bundle lets go of
// the village when the app has been replaced or thrown away for 30 s (a
// fresh "bundle-update-in-progress" marker in the bundle says an update is
// under way): the link is closed and stopped and the route dropped; the
// agent goes on for the user, unlinked.
//
// Both wait on the run's waker and leave when the run ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "run/session/run_shared.h"

namespace mossbank::run {

struct WatchTimes {
  std::chrono::milliseconds daemon_poll{1000};
  std::chrono::milliseconds kill_grace{3000};
  std::chrono::milliseconds bundle_poll{2000};
  std::chrono::seconds trouble_limit{29};  // detach when more than this has passed
  std::chrono::seconds marker_fresh{1800};
};

void watch_daemon_pid(RunShared& run, uint32_t pid, const std::function<bool(uint32_t)>& gone,
                      const WatchTimes& times = {});

// The app bundle the program runs from: the first folder, walking up from
// the executable, whose name ends in ".app"; none without one or when a
// component of the bundle's path is "AppTranslocation".
std::optional<std::string> app_bundle_of(const std::string& executable);

void watch_bundle_update(RunShared& run, const std::string& bundle,
                         std::function<void(RunShared&)> detach, const WatchTimes& times = {});

// What the update watch does when it lets go of the village.
void detach_from_village(RunShared& run);

}  // namespace mossbank::run
