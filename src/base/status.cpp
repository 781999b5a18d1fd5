#include "base/status.h"

#include <cstring>

namespace mossbank {

Status os_failure(int err) {
  if (err == 0) err = EIO;
  return Status{err, std::strerror(err)};
}

}  // namespace mossbank
