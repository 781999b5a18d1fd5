// Running the agent by itself, outside the village: the wrapper's process
// becomes the agent, in the invocation's working directory, with the
// captured environment less the wrapper's own variables and every signal
// at its default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/run.h"

namespace mossbank::run {

// `args` as the agent gets them (agent_args already applied). Returns only
// when the process could not be replaced, after writing "Couldn't start
// <path>: <error>" to stderr: the exit code 1.
uint8_t run_agent_directly(const std::string& program_path, const std::vector<std::string>& args,
                           const RunInvocation& invocation);

}  // namespace mossbank::run
