// Codex's --no-daemon: when Codex's own help lists the flag and the command
// line neither sets it nor talks to a remote, the wrapper puts it first so
// that the wrapped Codex runs its session in the wrapped process.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "screen/agent_profiles.h"

namespace mossbank::run {

// Whether the agent's arguments leave the choice open: no "--no-daemon" or
// "--remote" flag, no "--remote" with a value, and a first command word that
// is neither a non-session command nor one of its one-shot commands
// ("exec"/"e" for Codex).
bool codex_probe_wanted(const screen::AgentProfile& agent, std::span<const std::string> args);

// Whether a word of the help text, split at JavaScript white space, is
// exactly "--no-daemon".
bool help_lists_no_daemon(std::string_view help);

struct ProbeCommand {
  std::string program_path;
  std::vector<std::string> envp;  // "NAME=value"
  std::string cwd;
  std::chrono::milliseconds wait{1000};
};

// Runs "<program> --help" with every stream piped and returns what it wrote
// on stdout, when stdout closed within `wait`; none when it did not start or
// took longer. The child is killed and reaped either way.
std::optional<std::string> probe_help(const ProbeCommand& command);

// The arguments with "--no-daemon" in front when the probe asks for it.
std::vector<std::string> codex_args_after_probe(const ProbeCommand& command,
                                                std::vector<std::string> args);

}  // namespace mossbank::run
