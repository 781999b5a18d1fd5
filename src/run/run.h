// The `run` command: what the program's entry hands it and what it answers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace mossbank::run {

struct RunInvocation {
  std::vector<std::pair<std::string, std::string>> environment;  // in the platform's order
  std::string current_dir;                                       // empty when unreadable
  std::string home_dir;
  std::string version;
  std::shared_ptr<std::function<bool()>> start_app;
  uint64_t started_at_ms = 0;
  uint32_t pid = 0;
};

struct RunHelp {};
struct RunError {
  std::string text;
};
struct RunExit {
  uint8_t code = 0;
};
using RunOutcome = std::variant<RunHelp, RunError, RunExit>;

RunOutcome run_main(const std::vector<std::string>& args, RunInvocation invocation);

}  // namespace mossbank::run
