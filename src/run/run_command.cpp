#include "run/run_loop.h"

namespace mossbank::run {

namespace {

// Placeholder until the wrapped run lands: the agent is not started.
class PendingRunCommand final : public RunCommand {
 public:
  LoopResult run_loop(const LoopInput&) override { return LoopResult{1, true, {}, {}}; }
};

}  // namespace

std::unique_ptr<RunCommand> RunCommand::start(const RunInvocation&) {
  return std::make_unique<PendingRunCommand>();
}

}  // namespace mossbank::run
