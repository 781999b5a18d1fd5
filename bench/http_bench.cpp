// Latency of one exchange with a loopback server: 10,000 sequential requests
// through send_pooled (one kept-alive connection) and through send_once (a
// connection each). Prints mean and median per exchange for both.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "daemon/http_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kExchanges = 10000;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Serves one connection at a time, which is all a sequential client needs:
// every request gets a small JSON answer, kept alive unless the request
// asked for "connection: close".
class Server {
 public:
  Server() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 128) != 0) {
      std::perror("listen");
      std::exit(1);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Server() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    // Wake a blocked accept with one last connection.
    int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(c);
    thread_.join();
    ::close(fd_);
  }
  uint16_t port() const { return port_; }
  // Mean time the server spent between a request's last byte and its answer.
  double mean_server_us() const {
    return served_ ? static_cast<double>(server_ns_) / 1000.0 / static_cast<double>(served_) : 0;
  }
  void reset_stats() {
    served_ = 0;
    server_ns_ = 0;
  }

 private:
  void run() {
    const std::string answer =
        "HTTP/1.1 200 OK\r\ncontent-type: application/json\r\ncontent-length: "
        "11\r\n\r\n{\"ok\":true}";
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) {
        if (stop_) return;
        continue;
      }
      int one = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::string pending;
      char buf[16384];
      bool open = true;
      while (open && !stop_) {
        size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
          ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          pending.append(buf, static_cast<size_t>(n));
          continue;
        }
        auto start = Clock::now();
        bool close_after = (pending.substr(0, end) + "\r\n").find("\r\nconnection: close\r\n") !=
                           std::string::npos;
        pending.erase(0, end + 4);
        if (::send(c, answer.data(), answer.size(), kSendFlags) < 0) open = false;
        server_ns_ += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
        ++served_;
        if (close_after) open = false;
      }
      ::close(c);
    }
  }

  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> served_{0};
  std::atomic<uint64_t> server_ns_{0};
  std::thread thread_;
};

template <typename Send>
void measure(const char* name, Server& server, Send send) {
  mossbank::HttpRequest request;
  request.timeout = std::chrono::seconds(5);
  request.method = "GET";
  request.path = "/api/state";
  request.headers = {{"x-mossbank-token", "0123456789abcdef0123456789abcdef"}};
  request.port = server.port();

  for (int i = 0; i < 100; ++i) send(request);  // warm up
  server.reset_stats();

  std::vector<double> us;
  us.reserve(kExchanges);
  int failures = 0;
  for (int i = 0; i < kExchanges; ++i) {
    auto start = Clock::now();
    mossbank::HttpResponse r = send(request);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    auto* reply = std::get_if<mossbank::HttpReply>(&r);
    if (reply == nullptr || reply->status != 200) ++failures;
  }
  double mean = 0;
  for (double v : us) mean += v;
  mean /= static_cast<double>(us.size());
  std::nth_element(us.begin(), us.begin() + kExchanges / 2, us.end());
  std::printf(
      "%-12s %d exchanges: mean %8.1f us, median %8.1f us (server's own %.1f us), %d failed\n",
      name, kExchanges, mean, us[kExchanges / 2], server.mean_server_us(), failures);
}

// The floor: the same request bytes on one blocking socket, no client logic.
mossbank::HttpResponse raw_exchange(int fd, const std::string& bytes, size_t answer_size) {
  ::send(fd, bytes.data(), bytes.size(), kSendFlags);
  char buf[512];
  size_t got = 0;
  while (got < answer_size) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return mossbank::HttpFailure{};
    got += static_cast<size_t>(n);
  }
  mossbank::HttpReply reply;
  reply.status = 200;
  return reply;
}

}  // namespace

int main() {
  Server server;
  {
    // Dropped before send_once runs: the server serves one connection at a time.
    mossbank::PooledConnection pool;
    measure("send_pooled", server,
            [&](const mossbank::HttpRequest& r) { return mossbank::send_pooled(pool, r); });
  }
  {
    auto connected = mossbank::connect_loopback(server.port(), std::chrono::seconds(2));
    auto& sock = std::get<mossbank::UniqueFd>(connected);
    int one = 1;
    ::setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    measure("raw socket", server, [&](const mossbank::HttpRequest& r) {
      static const std::string bytes = *mossbank::write_request_head(r, true);
      return raw_exchange(sock.get(), bytes, 82);
    });
  }
  measure("send_once", server,
          [](const mossbank::HttpRequest& r) { return mossbank::send_once(r); });
  return 0;
}
