#include "base/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace mossbank {

void fatal(std::string_view what) {
  std::fprintf(stderr, "mossbank: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace mossbank
