// Sockets where macOS and Linux differ: a write to a peer that is gone must
// not raise SIGPIPE (MSG_NOSIGNAL on each send on Linux, SO_NOSIGPIPE on the
// socket on macOS), and every descriptor is close-on-exec from the start
// where the platform can (SOCK_CLOEXEC, F_DUPFD_CLOEXEC).
#pragma once

#include <sys/socket.h>

#include "base/status.h"
#include "base/unique_fd.h"

namespace mossbank::platform {

// The flags every send() takes so that a closed peer gives EPIPE, not SIGPIPE.
#ifdef MSG_NOSIGNAL
inline constexpr int kSendFlags = MSG_NOSIGNAL;
#else
inline constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is on the socket instead
#endif

// socket(domain, type, 0), close-on-exec, with no SIGPIPE on its writes.
Result<UniqueFd> open_socket(int domain, int type);

// Sets no SIGPIPE on a socket the tool did not open itself (an accepted one).
void no_sigpipe(int fd);

// accept() on a listening socket: the connection close-on-exec, with no
// SIGPIPE on its writes.
Result<UniqueFd> accept_socket(int listen_fd);

// A close-on-exec duplicate of `fd`.
Result<UniqueFd> duplicate_fd(int fd);

}  // namespace mossbank::platform
