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

#include "platform/sockets.h"

namespace mossbank::testing {

inline constexpr int kTestSendFlags = platform::kSendFlags;

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
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0)
      std::abort();
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe(wake_) != 0) std::abort();
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    char c = 0;
    (void)!::write(wake_[1], &c, 1);
    acceptor_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : workers_) t.join();
    ::close(listen_fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

  uint16_t port() const { return port_; }

  int connections() const { return accepted_.load(); }

  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void accept_loop() {
    for (;;) {
      pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (stop_) return;
      if (!(fds[0].revents & POLLIN)) continue;
      int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) continue;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      platform::no_sigpipe(fd);
      int index = accepted_++;
      std::lock_guard<std::mutex> lock(mutex_);
      open_fds_.push_back(fd);
      workers_.emplace_back([this, fd, index] { serve(fd, index); });
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

  void serve(int fd, int index) {
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
    ::close(fd);
  }

  Handler handler_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<int> open_fds_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// A port on which nothing listens (bound once, then released).
inline uint16_t closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

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

}  // namespace mossbank::testing
