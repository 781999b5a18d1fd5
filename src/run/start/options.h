// The wrapper's own options, the agent's command line, and finding the
// agent's program.
//
// The scan stops at the first argument that does not begin with "-": that is
// the agent's program, and everything after it belongs to the agent
// untouched. "--" ends the options, so "-- -weird" runs "-weird". A later
// vocation option replaces an earlier one. No program means "claude".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "run/run.h"
#include "run/session/run_loop.h"

namespace mossbank::run {

using OptionScan = std::variant<RunHelp, Status, RunOptions>;

OptionScan scan_options(std::span<const std::string> args);

// The arguments the agent is started with: with a vocation prompt, for an
// agent whose row carries it (the program's stem in any case names the row;
// Claude Code's "--append-system-prompt"), the option and the prompt go
// first.
std::vector<std::string> agent_args(std::string_view program, const std::vector<std::string>& args,
                                    const std::optional<std::string>& vocation_prompt);

// The program followed by the agent's arguments: a command line as agent
// recognition reads it.
std::vector<std::string> launch_argv(std::string_view program,
                                     const std::vector<std::string>& args);

// A program text holding "/" is a path; otherwise each non-empty entry of
// `path_value` (PATH) is tried in order. The first candidate that is a
// regular file, links followed, wins.
std::optional<std::string> find_program(std::string_view program, std::string_view path_value);

// The last path component, split at "/" or "\".
std::string_view last_path_component(std::string_view path);

}  // namespace mossbank::run
