// Small file helpers shared by the commands: whole writes, whole reads and
// directory creation, each retrying on EINTR and reporting failures as values.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace mossbank {

// Writes every byte; the failing write's errno (EIO when a write makes no
// progress) otherwise.
Status write_all(int fd, std::string_view bytes);

// The whole file; none when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path);

// Creates `path` and its missing parents with `mode` (before the umask); an
// existing directory is fine; ENOTDIR when something else is in the way.
Status make_directories(const std::string& path, mode_t mode);

}  // namespace mossbank
