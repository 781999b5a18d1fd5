// Starting and becoming other programs, and the file facts that differ
// between macOS and Linux.
//
// A program the tool starts or becomes gets every signal at its default and
// an empty mask: the tool ignores SIGPIPE, and an ignored SIGPIPE would be
// inherited by every shell the agent runs. exec_with_default_signals
// replaces the process (and puts the caller's signals back when it cannot);
// spawn_with_default_signals starts a child with the given standard
// streams; make_pipe gives close-on-exec pipes on both platforms;
// modified_time_ms reads the file time that the two platforms name apart.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace mossbank::platform {

// Every catchable signal at its default and an empty mask; async-signal-safe,
// for a child between fork and exec.
void reset_signals_for_exec();

struct PipeEnds {
  int read = -1;
  int write = -1;
};

// A pipe with both ends close-on-exec (pipe2 where the platform has it);
// 0 or the errno.
int make_pipe(PipeEnds& out);

// Replaces the process with `path` (used as given, no PATH search), `argv`
// and exactly the "NAME=value" entries of `envp`, every signal at its
// default and an empty mask. Returns only on failure: the errno, with the
// caller's signal actions and mask put back as they were, so that a run
// that goes on keeps its handlers.
int exec_with_default_signals(const std::string& path, const std::vector<std::string>& argv,
                              const std::vector<std::string>& envp);

struct SpawnRequest {
  std::string path;  // used as given
  std::vector<std::string> argv;
  std::vector<std::string> envp;  // "NAME=value", the whole environment
  std::string cwd;                // empty: the caller's
  int stdin_fd = -1;              // each becomes 0, 1, 2 in the child
  int stdout_fd = -1;
  int stderr_fd = -1;
};

struct Spawned {
  pid_t pid = -1;
  int error = 0;  // the errno when the program did not start
};

// Starts the program with every signal at its default and an empty mask;
// an exec that fails is reported in `error`, not as a child that exits 127.
Spawned spawn_with_default_signals(const SpawnRequest& request);

// A file's modification time in milliseconds since the Unix epoch, with the
// fraction (symbolic links followed); none when it cannot be read.
std::optional<double> modified_time_ms(const std::string& path);

}  // namespace mossbank::platform
