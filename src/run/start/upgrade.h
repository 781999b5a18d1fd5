// The upgrade hand-over: after the application was updated, a restart with
// the upgrade flag hands the run to the newly installed tool by replacing
// this process with it, passing the agent's command line (already resume
// arguments) and the run's identifier, so that the successor registers the
// same run and takes the same conversation up.
//
// Two successors are tried in order: the native tool (named in
// rust-cli.json in the home directory, or this executable's own path,
// which an update replaces in place), then the application's Node program
// beside it. Nothing of the hand-over is reported; when no candidate
// replaces the process the restart goes on in this one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/start/environment.h"
#include "run/session/run_loop.h"

namespace mossbank::run {

struct HandoverCandidate {
  std::string program;  // a path, or "node" looked up on PATH
  std::vector<std::string> args;
  bool run_as_node = false;  // the application's own executable running the Node program
  bool native = false;
};

// MOSSBANK_RUST_CLI: unset, empty, "1", "on", "all", "true" are on; "0",
// "no", "off", "false" off; anything else is a comma-separated list of
// scopes, on when one is exactly "run".
bool rust_cli_switch_on(const std::optional<std::string>& value);

// "run", "--allow-plain" when given, "--vocation=<id>" when given, "--",
// the program as typed, the resume arguments.
std::vector<std::string> handover_command_line(const RunOptions& options,
                                               const std::vector<std::string>& resume_args);

// The Node program two levels above the executable: "mossbank.cjs" run by
// the application's executable (as Node), else "mossbank.js" run by node.
std::optional<HandoverCandidate> node_cli_command(
    const std::string& executable, const std::vector<std::string>& args,
    const std::function<bool(const std::string&)>& exists);

// Three levels up; past "Resources" one more, and past "Contents" two more.
std::optional<std::string> app_bundle_root(std::string_view path);

// Modification time in milliseconds since the Unix epoch, with the fraction.
std::optional<double> modified_ms(const std::string& path);

// A regular file (links followed) with an execute bit.
bool is_executable(const std::string& path);

struct HandoverInput {
  std::string home_dir;
  std::optional<std::string> own_executable;
  RunOptions options;
  std::vector<std::string> resume_args;
  EnvPairs environment;
  std::string run_id;
  uint32_t pid = 0;
};

// The candidates in the order they are tried: native, then Node.
std::vector<HandoverCandidate> handover_candidates(const HandoverInput& input);

// The successor's whole environment.
EnvPairs handover_environment(const HandoverInput& input, const HandoverCandidate& candidate);

// Replaces the process with the first candidate that starts; returns when
// none did.
void try_upgrade_handover(const HandoverInput& input);

}  // namespace mossbank::run
