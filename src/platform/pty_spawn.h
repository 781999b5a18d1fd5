// Starting programs and the pseudo-terminal the agent runs in.
//
// spawn_in_pty: openpty with the size, then a child that becomes a session
// leader with the pty as its controlling terminal, has the pty on 0, 1 and 2,
// every other descriptor closed, every signal at its default and an empty
// mask, works in `cwd`, and execs `path` with `argv` and `envp` (no PATH
// search), through fork_exec (process.h): a file without a #! line runs
// under /bin/sh, and an exec that fails is reported, not a child that exits
// 127.
// The child gets every signal at its default and an empty mask: the tool
// ignores SIGPIPE, and an ignored SIGPIPE would be inherited by every shell
// the agent runs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"

namespace mossbank::platform {

struct SpawnedPty {
  UniqueFd master;  // close-on-exec
  pid_t pid = -1;
};

Result<SpawnedPty> spawn_in_pty(const std::string& path, const std::vector<std::string>& argv,
                                const std::vector<std::string>& envp, const std::string& cwd,
                                uint16_t cols, uint16_t rows);

// The window size of a terminal descriptor; false when unknown or a side is 0.
bool terminal_size(int fd, uint16_t& cols, uint16_t& rows);
// Sets the window size of a pty master (the child gets SIGWINCH).
Status set_terminal_size(int fd, uint16_t cols, uint16_t rows);

}  // namespace mossbank::platform
