#include "platform/pty_spawn.h"

#include <fcntl.h>
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

// The child becomes a session leader with the pty as its controlling
// terminal on 0, 1 and 2, and keeps no other descriptor but the report.
int enter_pty(const void* context, int report_fd) {
  const int slave = *static_cast<const int*>(context);
  if (setsid() < 0) return errno;
  if (ioctl(slave, TIOCSCTTY, 0) != 0) return errno;
  for (int fd = 0; fd < 3; ++fd)
    if (dup2(slave, fd) < 0) return errno;
  close_other_descriptors(report_fd);
  return 0;
}

}  // namespace

Result<SpawnedPty> spawn_in_pty(const std::string& path, const std::vector<std::string>& argv,
                                const std::vector<std::string>& envp, const std::string& cwd,
                                uint16_t cols, uint16_t rows) {
  const ExecImage image(path, argv, envp);

  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  ws.ws_col = cols;
  ws.ws_row = rows;
  int master_fd = -1, slave_fd = -1;
  if (openpty(&master_fd, &slave_fd, nullptr, nullptr, &ws) != 0) return os_failure(errno);
  SpawnedPty out;
  out.master.reset(master_fd);
  const UniqueFd slave(slave_fd);
  fcntl(master_fd, F_SETFD, FD_CLOEXEC);
  fcntl(slave_fd, F_SETFD, FD_CLOEXEC);

  const int slave_for_child = slave.get();
  Result<pid_t> child = fork_exec(image, cwd, enter_pty, &slave_for_child);
  if (!child) return child.status();
  out.pid = *child;
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

Status set_terminal_size(int fd, uint16_t cols, uint16_t rows) {
  struct winsize ws;
  std::memset(&ws, 0, sizeof ws);
  ws.ws_col = cols;
  ws.ws_row = rows;
  if (ioctl(fd, TIOCSWINSZ, &ws) != 0) return os_failure(errno);
  return ok_status();
}

}  // namespace mossbank::platform
