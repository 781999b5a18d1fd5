// Small file helpers shared by the commands: whole writes, whole reads and
// directory creation, each retrying on EINTR and reporting errno as a value.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace mossbank {

// Writes every byte; 0, or the errno of the failing write (EIO when a write
// makes no progress).
int write_all(int fd, std::string_view bytes);

// The whole file; none when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path);

// Creates `path` and its missing parents with `mode` (before the umask); an
// existing directory is fine. 0, or the errno of the failure.
int make_directories(const std::string& path, mode_t mode);

}  // namespace mossbank
