#include "base/random.h"

#include <sys/random.h>  // getentropy on macOS; Linux declares it here too
#include <unistd.h>

namespace mossbank {

bool fill_random(unsigned char* out, size_t n) {
  while (n > 0) {
    size_t step = n < 256 ? n : 256;
    if (getentropy(out, step) != 0) return false;
    out += step;
    n -= step;
  }
  return true;
}

std::optional<std::string> random_hex(size_t n) {
  std::string bytes(n, '\0');
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  if (!fill_random(p, n)) return std::nullopt;
  return hex_lower(p, n);
}

}  // namespace mossbank
