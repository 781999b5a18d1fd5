// Blocking writes and read time-outs on the run's own streaming sockets (the
// command stream and the output stream), which carry one long exchange each
// rather than a request and its answer.
#pragma once

#include <chrono>
#include <string_view>

namespace mossbank::run {

// Writes all of `bytes` to a blocking socket from connect_loopback, without
// raising SIGPIPE; false once a write fails or the peer has closed.
bool send_all(int fd, std::string_view bytes);

// Bounds each read on the socket (SO_RCVTIMEO); 0 waits without end.
bool set_read_timeout(int fd, std::chrono::milliseconds timeout);

}  // namespace mossbank::run
