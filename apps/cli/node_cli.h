// Hand-off to the application's Node command-line program, which ships
// beside the tool in the bundle and implements every other command.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mossbank::cli {

struct NodeCliLaunch {
  std::string program;
  std::string script;
  bool run_as_node = false;  // the program is the application's own executable
};

// Whether a path names a regular file, symbolic links followed.
bool path_is_file(const std::string& path);

std::optional<NodeCliLaunch> find_node_cli(
    const std::string& executable, const std::function<bool(const std::string&)>& path_exists);

// Replaces the process with the Node program; returns only when that failed,
// after writing why to stderr.
void run_node_cli(const std::vector<std::string>& args);

// Runs "start --no-open" through the Node program with the standard streams
// on the null device; true when it ran and exited 0.
bool start_app();

}  // namespace mossbank::cli
