// config.json in the home directory: the daemon's port and the two tokens
// the tool talks to it with.
//
// read_config never fails: any problem gives none. ensure_config creates or
// replaces an invalid file under an exclusive lock on the home directory,
// through a temporary file and a rename, so concurrent tool processes end
// with the same tokens and no reader sees a partial file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/status.h"

namespace mossbank {

struct DaemonConfig {
  std::string token;
  std::optional<std::string> hook_token;  // absent when invalid or equal to token
  uint16_t port = 4827;
};

std::optional<DaemonConfig> read_config(const std::string& home);

// `private_home` selects mode 0700 (else 0777, less the umask) for home
// directories it has to create. A failure is the operating system's.
Result<DaemonConfig> ensure_config(const std::string& home, bool private_home);

}  // namespace mossbank
