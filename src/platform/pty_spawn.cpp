#include "platform/pty_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/process.h"
#include "platform/pty.h"

namespace mossbank::platform {

namespace {

void close_other_descriptors(int keep) {
  for (int fd = 3; fd < keep; ++fd) close(fd);
#if defined(__linux__) && defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  closefrom(keep + 1);
#else
  long max = sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = keep + 1; fd < max; ++fd) close(fd);
#endif
}

void write_errno_and_exit(int pipe_fd, int err) {
  ssize_t ignored = write(pipe_fd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

}  // namespace

SpawnedPty spawn_in_pty(const std::string& path, const std::vector<std::string>& argv,
                        const std::vector<std::string>& envp, const std::string& cwd,
                        uint16_t cols, uint16_t rows) {
  SpawnedPty out;
  // Everything the child needs is built before fork.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // A file without a #! line runs under /bin/sh, as execvp does.
  static const char kShell[] = "/bin/sh";
  std::vector<char*> sh_args = {const_cast<char*>(kShell), const_cast<char*>(path.c_str())};
  for (size_t i = 1; i < argv.size(); ++i) sh_args.push_back(const_cast<char*>(argv[i].c_str()));
  sh_args.push_back(nullptr);
  std::vector<char*> env;
  for (const std::string& e : envp) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  ws.ws_col = cols;
  ws.ws_row = rows;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
    out.error = std::strerror(errno);
    return out;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);

  PipeEnds status_pipe;
  if (int err = make_pipe(status_pipe)) {
    out.error = std::strerror(err);
    close(master);
    close(slave);
    return out;
  }

  pid_t pid = fork();
  if (pid < 0) {
    out.error = std::strerror(errno);
    close(master);
    close(slave);
    close(status_pipe.read);
    close(status_pipe.write);
    return out;
  }
  if (pid == 0) {
    // The child: async-signal-safe calls only.
    reset_signals_for_exec();
    if (setsid() < 0) write_errno_and_exit(status_pipe.write, errno);
    if (ioctl(slave, TIOCSCTTY, 0) != 0) write_errno_and_exit(status_pipe.write, errno);
    for (int fd = 0; fd < 3; ++fd)
      if (dup2(slave, fd) < 0) write_errno_and_exit(status_pipe.write, errno);
    // The error pipe is the one descriptor kept above 2; it closes on exec.
    int keep = status_pipe.write;
    if (keep < 3) {
      keep = fcntl(keep, F_DUPFD_CLOEXEC, 3);
      if (keep < 0) _exit(127);
    }
    close_other_descriptors(keep);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) write_errno_and_exit(keep, errno);
    execve(path.c_str(), args.data(), env.data());
    if (errno == ENOEXEC) execve(kShell, sh_args.data(), env.data());
    write_errno_and_exit(keep, errno);
  }
  close(slave);
  close(status_pipe.write);
  int child_errno = 0;
  ssize_t n;
  do {
    n = read(status_pipe.read, &child_errno, sizeof child_errno);
  } while (n < 0 && errno == EINTR);
  close(status_pipe.read);
  if (n == static_cast<ssize_t>(sizeof child_errno)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    close(master);
    out.error = std::strerror(child_errno);
    return out;
  }
  out.master = master;
  out.pid = pid;
  return out;
}

bool terminal_size(int fd, uint16_t& cols, uint16_t& rows) {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  cols = ws.ws_col;
  rows = ws.ws_row;
  return true;
}

int set_terminal_size(int fd, uint16_t cols, uint16_t rows) {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  ws.ws_col = cols;
  ws.ws_row = rows;
  return ioctl(fd, TIOCSWINSZ, &ws) == 0 ? 0 : errno;
}

}  // namespace mossbank::platform
