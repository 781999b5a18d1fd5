#include "base/clock.h"

#include <chrono>

namespace mossbank {

double now_ms() {
  using namespace std::chrono;
  const auto since = system_clock::now().time_since_epoch();
  if (since.count() < 0) return 0;
  return static_cast<double>(duration_cast<microseconds>(since).count()) / 1000.0;
}

}  // namespace mossbank
