#include "platform/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace mossbank::platform {

namespace {

std::atomic<bool> g_pending[kMaxSignal];
std::atomic<int> g_wake_fd{-1};
constexpr int kRunSignals[] = {SIGWINCH, SIGINT, SIGTERM, SIGHUP};

extern "C" void on_run_signal(int sig) {
  const int saved_errno = errno;
  if (sig > 0 && sig < kMaxSignal) g_pending[sig].store(true);
  int fd = g_wake_fd.load();
  if (fd >= 0) {
    char byte = 1;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved_errno;
}

bool cloexec(int fd) { return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0; }

}  // namespace

Result<PipeEnds> make_wake_pair() {
  int fds[2];
#if defined(SOCK_CLOEXEC)
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return os_failure(errno);
  PipeEnds out{UniqueFd(fds[0]), UniqueFd(fds[1])};
#else
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return os_failure(errno);
  PipeEnds out{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (!cloexec(fds[0])) return os_failure(errno);
#endif
  int flags = fcntl(fds[1], F_GETFL);
  if (flags < 0 || fcntl(fds[1], F_SETFL, flags | O_NONBLOCK) != 0 || !cloexec(fds[1]))
    return os_failure(errno);
  return out;
}

void install_run_signals(int wake_fd) {
  g_wake_fd.store(wake_fd);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_run_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kRunSignals) sigaction(sig, &sa, nullptr);
}

void uninstall_run_signals() {
  for (int sig : kRunSignals) signal(sig, SIG_DFL);
  g_wake_fd.store(-1);
}

bool take_pending_signal(int sig) {
  if (sig <= 0 || sig >= kMaxSignal) return false;
  return g_pending[sig].exchange(false);
}

}  // namespace mossbank::platform
