// The village check before a wrapped run: is the daemon up, the village's
// own (it proves the token), and at least as new as this wrapper? When not,
// the application is started and waited for at most 15 seconds. The run
// goes on in every case; the check only decides what is said and whether
// the application is started.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/json.h"

namespace mossbank::run {

// One GET of `path` on a fresh connection, no extra headers; true on 2xx.
bool daemon_get(uint16_t port, std::string_view path, std::chrono::seconds timeout);

// Whether the health answer's body shows a healthy village for this token,
// port and nonce and this wrapper's version: "app" is "mossbank", "proof"
// is right, "api" at least kApiLevel, "version" not lower than `own_version`
// (either failing to parse lets it pass).
bool health_is_good(std::string_view body, const std::string& token, uint16_t port,
                    std::string_view nonce, std::string_view own_version);

// Semantic Versioning 2.0.0 precedence, build metadata ignored.
bool semver_lower(const SemVer& a, const SemVer& b);

struct VillageCheck {
  std::function<bool()> healthy;  // the health probe with its proof
  std::shared_ptr<std::function<bool()>> start_app;
  std::function<void()> ping_hooks;  // after the start, its answer unused
  std::function<void(std::string_view)> say;
  std::string log_path;  // <home>/daemon.log, named in the messages
  std::chrono::milliseconds start_wait{15000};
};

// Probes; when the village is not healthy, starts the application on a
// thread of its own (never joined: a late answer is dropped) and waits for
// its answer until `start_wait` has passed; then pings the hooks.
void check_village(const VillageCheck& check);

// check_village with the real probe, start and messages for this home.
void ensure_village(const std::string& home, std::string_view own_version,
                    std::shared_ptr<std::function<bool()>> start_app);

}  // namespace mossbank::run
