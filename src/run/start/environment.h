// The run's variables, the agent's environment, and the run's identifier.
//
// Every lookup reads the (name, value) pairs that main captured; nothing
// here reads the live process environment. Names are compared exactly:
// "mossbank_run_as" is neither read nor removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen/session_ids.h"

namespace mossbank::run {

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

// The value of the first pair named exactly `name`.
std::optional<std::string> env_var(const EnvPairs& env, std::string_view name);

// Whether the variable is set to exactly "1".
bool env_is_one(const EnvPairs& env, std::string_view name);

// The village process that started an install: MOSSBANK_RUN_SETUP is "1"
// and MOSSBANK_RUN_DAEMON_PID a decimal 32-bit integer (optional sign, no
// blanks) above 1.
std::optional<int32_t> setup_daemon_pid(const EnvPairs& env);

// MOSSBANK_RUN_HOST when it is 8 to 64 ASCII letters, digits and "-".
std::optional<std::string> run_host(const EnvPairs& env);

// stdout is a terminal and MOSSBANK_RUN_AS is unset or empty.
bool is_interactive(const EnvPairs& env);

// The process is gone: a null signal to it fails with ESRCH (pid 0 never is).
bool pid_gone(int32_t pid);

// The pairs less the wrapper's own eleven variables (which would steer a
// nested wrapper or hook), and less MOSSBANK_RUN_ID when `drop_run_id`.
// MOSSBANK_AUTO_RUN_WHY stays.
EnvPairs run_env_without_own(const EnvPairs& env, bool drop_run_id);

// The pairs less the four variables the upgrade hand-over sets itself.
EnvPairs env_without_handover(const EnvPairs& env);

// "NAME=value" entries, the form exec takes.
std::vector<std::string> env_entries(const EnvPairs& env);

// The run's identifier: run_host, else a session-id-shaped MOSSBANK_RUN_AS,
// else a session-id-shaped MOSSBANK_RUN_UPGRADE_ID, else a fresh session id
// (none when the random source fails).
std::optional<std::string> choose_run_id(const EnvPairs& env,
                                         screen::FillRandom fill = fill_random);

}  // namespace mossbank::run
