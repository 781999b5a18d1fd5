#include "run/run.h"

namespace mossbank::run {

RunOutcome run_main(const std::vector<std::string>& args, RunInvocation /*invocation*/) {
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) return RunHelp{};
  return RunError{"mossbank run: this build cannot wrap agents yet"};
}

}  // namespace mossbank::run
