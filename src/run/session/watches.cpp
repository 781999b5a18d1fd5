#include "run/session/watches.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "run/link/link.h"
#include "run/link/output_stream.h"

namespace mossbank::run {

namespace {

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An update is under way: the marker exists and is younger than `fresh`
// (or dated in the future).
bool update_in_progress(const std::string& bundle, std::chrono::seconds fresh) {
  struct stat st;
  if (stat((bundle + "/bundle-update-in-progress").c_str(), &st) != 0) return false;
  const time_t now = time(nullptr);
  return st.st_mtime > now || now - st.st_mtime < fresh.count();
}

}  // namespace

void watch_daemon_pid(RunShared& run, uint32_t pid, const std::function<bool(uint32_t)>& gone,
                      const WatchTimes& times) {
  while (!gone(pid)) {
    if (!run.waker.sleep_for(times.daemon_poll)) return;
  }
  if (run.agent) run.agent->kill_group(false);
  if (!run.waker.sleep_for(times.kill_grace)) return;  // the agent ended: nothing to kill
  if (run.agent) run.agent->kill_group(true);
}

std::optional<std::string> app_bundle_of(const std::string& executable) {
  std::string dir = parent_of(executable);
  while (!dir.empty() && dir != "/") {
    const std::string name = dir.substr(dir.rfind('/') + 1);
    if (name.size() > 4 && name.ends_with(".app")) {
      // A translocated app runs from a read-only copy that the system
      // throws away: it is never updated in place.
      for (const std::string& part : components(dir))
        if (part == "AppTranslocation") return std::nullopt;
      return dir;
    }
    dir = parent_of(dir);
  }
  return std::nullopt;
}

void detach_from_village(RunShared& run) {
  if (run.stopping.load()) return;
  run.link.closed.store(true);
  stop_link(run);  // the command stream too, not at its next byte
  close_output_stream(run);
  run.link.set_route(std::nullopt);
}

void watch_bundle_update(RunShared& run, const std::string& bundle,
                         std::function<void(RunShared&)> detach, const WatchTimes& times) {
  const std::string program = bundle + "/Contents/Resources/cli/bin/mossbank";
  const std::string folder = parent_of(program);
  struct stat start_st;
  const bool have_device = stat(folder.c_str(), &start_st) == 0;
  std::optional<std::chrono::steady_clock::time_point> trouble_since;
  while (!run.stopping.load()) {
    if (!run.waker.sleep_for(times.bundle_poll)) return;
    bool trouble = false;
    if (!update_in_progress(bundle, times.marker_fresh)) {
      struct stat st;
      const bool same_device =
          have_device && stat(folder.c_str(), &st) == 0 && st.st_dev == start_st.st_dev;
      if (same_device) {
        for (const std::string& c : components(program))
          if (c == ".Trash" || c == ".Trashes") trouble = true;
        struct stat prog;
        if (stat(program.c_str(), &prog) != 0 && errno == ENOENT) trouble = true;
      }
    }
    if (!trouble) {
      trouble_since.reset();
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!trouble_since) trouble_since = now;
    if (now - *trouble_since > times.trouble_limit) {
      detach(run);
      return;
    }
  }
}

}  // namespace mossbank::run
