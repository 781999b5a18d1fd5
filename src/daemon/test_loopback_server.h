// A loopback HTTP server for the daemon module's tests. It reads each request
// whole (head and content-length body), records it, and lets the test's
// handler write exactly the bytes under test: at once or trickled, then
// closing the connection or holding it open for the next request.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/status.h"
#include "base/unique_fd.h"
#include "platform/process.h"
#include "platform/sockets.h"

namespace mossbank::daemon::testing {

inline constexpr int kTestSendFlags = platform::kSendFlags;

// A listening socket on 127.0.0.1 at a port the system picks, for the
// tests' servers. accept() waits for the next connection, for a bounded
// time or until cancel(); the socket and its wake pipe are owned, so they
// close on every path, and every descriptor is close-on-exec.
class LoopbackListener {
 public:
  static constexpr std::chrono::milliseconds kUnbounded{-1};

  LoopbackListener() {
    Result<UniqueFd> socket = platform::open_socket(AF_INET, SOCK_STREAM);
    Result<platform::PipeEnds> wake = platform::make_pipe();
    if (!socket.ok() || !wake.ok()) std::abort();
    socket_ = std::move(*socket);
    wake_ = std::move(*wake);
    int one = 1;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(socket_.get(), 64) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      std::abort();
    port_ = ntohs(addr.sin_port);
  }

  uint16_t port() const { return port_; }

  // The next connection (no SIGPIPE, no Nagle delay), or none once
  // cancel() was called or `wait` has passed.
  UniqueFd accept(std::chrono::milliseconds wait = kUnbounded) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      int timeout = -1;
      if (wait >= std::chrono::milliseconds::zero()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
      }
      pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {wake_.read.get(), POLLIN, 0}};
      int ready = ::poll(fds, 2, timeout);
      if (ready < 0 && errno == EINTR) continue;
      // The wake byte stays in the pipe, so every later accept ends too.
      if (ready <= 0 || (fds[1].revents & POLLIN)) return {};
      if (!(fds[0].revents & POLLIN)) continue;
      Result<UniqueFd> fd = platform::accept_socket(socket_.get());
      if (!fd.ok()) continue;  // the client gave up before we took it
      int one = 1;
      ::setsockopt(fd->get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return std::move(*fd);
    }
  }

  // Ends the accept under way and every later one; safe from any thread.
  void cancel() {
    char c = 0;
    (void)!::write(wake_.write.get(), &c, 1);
  }

 private:
  UniqueFd socket_;
  platform::PipeEnds wake_;
  uint16_t port_ = 0;
};

class ServerConnection {
 public:
  ServerConnection(int fd, int index) : fd_(fd), index_(index) {}

  int index() const { return index_; }
  bool closed() const { return closed_; }

  void write(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size() && !closed_) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, kTestSendFlags);
      if (n <= 0) {
        close();  // the client has gone
        return;
      }
      done += static_cast<size_t>(n);
    }
  }

  // One write per `piece` bytes, `gap` apart.
  void trickle(std::string_view bytes, std::chrono::milliseconds gap, size_t piece = 1) {
    for (size_t i = 0; i < bytes.size() && !closed_; i += piece) {
      write(bytes.substr(i, piece));
      std::this_thread::sleep_for(gap);
    }
  }

  void close() {
    if (!closed_) ::shutdown(fd_, SHUT_RDWR);
    closed_ = true;
  }

 private:
  int fd_;
  int index_;
  bool closed_ = false;
};

class LoopbackServer {
 public:
  struct Request {
    int connection;
    std::string bytes;
  };
  using Handler = std::function<void(ServerConnection&, const std::string& request)>;

  explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    listener_.cancel();
    acceptor_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : workers_) t.join();
  }

  uint16_t port() const { return listener_.port(); }

  int connections() const { return accepted_.load(); }

  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void accept_loop() {
    while (UniqueFd fd = listener_.accept()) {
      int index = accepted_++;
      std::lock_guard<std::mutex> lock(mutex_);
      open_fds_.push_back(fd.get());
      workers_.emplace_back(
          [this, index, owned = std::move(fd)]() mutable { serve(owned, index); });
    }
  }

  // Reads one request: the head and as many body bytes as it announces.
  static std::optional<std::string> read_request(int fd, std::string& pending) {
    for (;;) {
      size_t head_end = pending.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        size_t body_len = 0;
        std::string head = pending.substr(0, head_end);
        for (char& ch : head) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        size_t at = head.find("\r\ncontent-length: ");
        if (at != std::string::npos) body_len = std::strtoul(head.c_str() + at + 18, nullptr, 10);
        size_t total = head_end + 4 + body_len;
        if (pending.size() >= total) {
          std::string request = pending.substr(0, total);
          pending.erase(0, total);
          return request;
        }
      }
      char buf[16384];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return std::nullopt;
      pending.append(buf, static_cast<size_t>(n));
    }
  }

  void serve(UniqueFd& owned, int index) {
    const int fd = owned.get();
    ServerConnection conn(fd, index);
    std::string pending;
    while (!conn.closed() && !stop_) {
      auto request = read_request(fd, pending);
      if (!request) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({index, *request});
      }
      handler_(conn, *request);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(open_fds_, fd);
    owned.reset();
  }

  Handler handler_;
  LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<int> open_fds_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// A port on which nothing listens (taken once, then released).
inline uint16_t closed_port() { return LoopbackListener().port(); }

// The path of a request's first line.
inline std::string request_path(const std::string& request) {
  size_t a = request.find(' ');
  size_t b = request.find(' ', a + 1);
  return request.substr(a + 1, b - a - 1);
}

// The value of a request header (name in lower case), or none.
inline std::optional<std::string> request_header(const std::string& request,
                                                 std::string_view name) {
  std::string key = "\r\n" + std::string(name) + ": ";
  size_t at = request.find(key);
  if (at == std::string::npos) return std::nullopt;
  size_t start = at + key.size();
  return request.substr(start, request.find("\r\n", start) - start);
}

// The body of a request.
inline std::string request_body(const std::string& request) {
  return request.substr(request.find("\r\n\r\n") + 4);
}

}  // namespace mossbank::daemon::testing
