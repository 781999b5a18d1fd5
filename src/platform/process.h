// Starting and becoming other programs, and the file facts that differ
// between macOS and Linux.
//
// A program the tool starts or becomes gets every signal at its default and
// an empty mask: the tool ignores SIGPIPE, and an ignored SIGPIPE would be
// inherited by every shell the agent runs. exec_with_default_signals
// replaces the process (and puts the caller's signals back when it cannot);
// fork_exec starts a child through one path, which the pty start and
// spawn_with_default_signals (a child with the given standard streams)
// share; a file without "#!" runs under /bin/sh on every path. make_pipe
// gives close-on-exec pipes on both platforms; modified_time_ms reads the
// file time that the two platforms name apart.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"

namespace mossbank::platform {

// Every catchable signal at its default and an empty mask; async-signal-safe,
// for a child between fork and exec.
void reset_signals_for_exec();

struct PipeEnds {
  UniqueFd read;
  UniqueFd write;
};

// A pipe with both ends close-on-exec (pipe2 where the platform has it).
Result<PipeEnds> make_pipe();

// A program ready to be started, built before any fork so that the child
// allocates nothing: the path (used as given, no PATH search), the
// arguments and exactly the "NAME=value" entries of the environment, as the
// C arrays execve takes, and the same under /bin/sh for a file without a
// "#!" line. Holds pointers into itself, so it stays where it was made.
class ExecImage {
 public:
  ExecImage(std::string path, std::vector<std::string> argv, std::vector<std::string> envp);
  ExecImage(const ExecImage&) = delete;
  ExecImage& operator=(const ExecImage&) = delete;

  // execve; a file the system cannot run as it is (ENOEXEC: no "#!" line)
  // runs under /bin/sh, as execvp does. Async-signal-safe, so a bare errno
  // rather than a Status, which allocates. Returns only on failure.
  int exec() const;

 private:
  std::string path_;
  std::vector<std::string> argv_;
  std::vector<std::string> envp_;
  std::vector<char*> args_;
  std::vector<char*> env_;
  std::vector<char*> sh_args_;
};

// Replaces the process with the image, every signal at its default and an
// empty mask. Returns only on failure, with the caller's signal actions and
// mask put back as they were, so that a run that goes on keeps its handlers.
Status exec_with_default_signals(const std::string& path, const std::vector<std::string>& argv,
                                 const std::vector<std::string>& envp);

// What a child does between fork and exec, after its signals are reset:
// async-signal-safe calls only; 0 or the errno (no Status: it allocates). `report_fd` (at least 3,
// close-on-exec) carries a failure back to the parent: a setup that closes
// descriptors keeps it open.
using ChildSetup = int (*)(const void* context, int report_fd);

// Forks a child that resets every signal to its default with an empty
// mask, runs `setup` (when given) with `context`, changes to `cwd` (when
// not empty) and execs the image: the child's pid. A failure on the way,
// the exec's included, comes back as the failure with the child reaped,
// instead of as a child that exits 127.
Result<pid_t> fork_exec(const ExecImage& image, const std::string& cwd, ChildSetup setup,
                        const void* context);

struct SpawnRequest {
  std::string path;  // used as given
  std::vector<std::string> argv;
  std::vector<std::string> envp;  // "NAME=value", the whole environment
  std::string cwd;                // empty: the caller's
  int stdin_fd = -1;              // each becomes 0, 1, 2 in the child
  int stdout_fd = -1;
  int stderr_fd = -1;
};

// fork_exec with the given standard streams.
Result<pid_t> spawn_with_default_signals(const SpawnRequest& request);

// A file's modification time in milliseconds since the Unix epoch, with the
// fraction (symbolic links followed); none when it cannot be read.
std::optional<double> modified_time_ms(const std::string& path);

}  // namespace mossbank::platform
