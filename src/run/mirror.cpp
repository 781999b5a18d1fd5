#include "run/mirror.h"

namespace mossbank::run {

namespace {

constexpr std::chrono::milliseconds kTypingHold{1500};

}  // namespace

void hold_state_briefly(RunShared& run) {
  std::lock_guard lock(run.hold_mutex);
  run.hold_until = std::chrono::steady_clock::now() + kTypingHold;
}

}  // namespace mossbank::run
