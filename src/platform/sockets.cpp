#include "platform/sockets.h"

#include <fcntl.h>

#include <cerrno>

namespace mossbank::platform {

Result<UniqueFd> open_socket(int domain, int type) {
#ifdef SOCK_CLOEXEC
  UniqueFd sock(::socket(domain, type | SOCK_CLOEXEC, 0));
  if (!sock) return os_failure(errno);
#else
  UniqueFd sock(::socket(domain, type, 0));
  if (!sock) return os_failure(errno);
  if (::fcntl(sock.get(), F_SETFD, FD_CLOEXEC) != 0) return os_failure(errno);
#endif
  no_sigpipe(sock.get());
  return sock;
}

void no_sigpipe([[maybe_unused]] int fd) {
#ifdef SO_NOSIGPIPE
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
}

Result<UniqueFd> accept_socket(int listen_fd) {
#if defined(SOCK_CLOEXEC) && defined(__linux__)
  UniqueFd sock(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
  if (!sock) return os_failure(errno);
#else
  UniqueFd sock(::accept(listen_fd, nullptr, nullptr));
  if (!sock) return os_failure(errno);
  if (::fcntl(sock.get(), F_SETFD, FD_CLOEXEC) != 0) return os_failure(errno);
#endif
  no_sigpipe(sock.get());
  return sock;
}

Result<UniqueFd> duplicate_fd(int fd) {
#ifdef F_DUPFD_CLOEXEC
  UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy) return os_failure(errno);
#else
  UniqueFd copy(::dup(fd));
  if (!copy) return os_failure(errno);
  if (::fcntl(copy.get(), F_SETFD, FD_CLOEXEC) != 0) return os_failure(errno);
#endif
  return copy;
}

}  // namespace mossbank::platform
