// What the run loop prepares before the agent starts: the pseudo-terminal's
// size when the user's terminal gives none, the agent's environment, and
// the object the run registers with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/json.h"
#include "run/run.h"

namespace mossbank::run {

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

// "<cols>x<rows>", each side 1 to 4 ASCII digits and at least 2; else 80 x 24.
std::pair<uint16_t, uint16_t> parse_run_size(const std::optional<std::string>& text);

// The captured pairs less the wrapper's own variables, with MOSSBANK_RUN_ID
// (unless MOSSBANK_RUN_PANEL_SHELL is "1": then an inherited one passes and
// none is added) and TERM=xterm-256color when there is no TERM.
EnvPairs agent_environment_pairs(const EnvPairs& pairs, const std::string& run_id);

struct RegistrationInput {
  const RunInvocation* invocation = nullptr;
  std::string command;  // the program as typed
  std::string run_id;
  std::optional<uint32_t> child_pid;
  bool restartable = false;
  std::string agent;  // the recognised agent, "" when none
  bool stdout_terminal = false;
  std::optional<std::string> vocation_id;
  std::optional<std::string> session_id;
};

// The registration object, keys in the daemon's order.
JsonValue build_registration(const RegistrationInput& in);

}  // namespace mossbank::run
