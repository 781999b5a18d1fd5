// A loopback daemon for the output stream's tests: it answers each
// POST .../output as the test chooses and reads the chunked body as it
// comes, recording the wire bytes, the chunks and the de-chunked body; once
// the body's last chunk has arrived it ends its own answer and closes, as
// the village's daemon does. It listens on the daemon module's loopback
// listener. Tests wait on its records, never on the clock.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "daemon/test_loopback_server.h"
#include "platform/sockets.h"
#include "run/link/frames.h"

namespace mossbank::run::testing {

struct ReceivedStream {
  std::string head;      // through the blank line
  std::string raw_body;  // chunk framing included
  std::vector<std::string> chunks;
  std::string body;       // de-chunked
  bool complete = false;  // the last chunk arrived
  bool closed = false;    // the connection is over
};

// How the daemon answers the n-th stream (0-based).
struct StreamAnswer {
  StreamAnswer(int status_ = 200, std::string headers_ = {}, bool read_body_ = true,
               bool answer_at_end_ = true)
      : status(status_),
        headers(std::move(headers_)),
        read_body(read_body_),
        answer_at_end(answer_at_end_) {}
  int status;           // 0: never answers, holds the connection
  std::string headers;  // extra header lines, each ending in CR LF
  bool read_body;       // false: never reads the body (a stalled daemon)
  bool answer_at_end;   // false: reads the body but never answers or closes
};

class StreamServer {
 public:
  using Chooser = std::function<StreamAnswer(size_t index)>;

  explicit StreamServer(Chooser choose = {}) : choose_(std::move(choose)) {
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~StreamServer() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      for (const UniqueFd& fd : fds_) ::shutdown(fd.get(), SHUT_RDWR);
    }
    changed_.notify_all();
    listener_.cancel();
    acceptor_.join();
    for (auto& t : workers_) t.join();
  }

  uint16_t port() const { return listener_.port(); }

  std::vector<ReceivedStream> streams() const {
    std::lock_guard lock(mutex_);
    return streams_;
  }

  // Waits until `done(streams)` holds; fails the test's expectation (and
  // gives what arrived) after a long guard time.
  std::vector<ReceivedStream> wait_for(
      const std::function<bool(const std::vector<ReceivedStream>&)>& done,
      std::chrono::seconds guard = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, guard, [&] { return done(streams_); });
    return streams_;
  }

  // The daemon ends the n-th stream's answer and closes it, mid-body.
  void end_stream(size_t index) {
    std::lock_guard lock(mutex_);
    if (index < stream_fds_.size()) ::shutdown(stream_fds_[index], SHUT_RDWR);
  }

 private:
  void accept_loop() {
    while (UniqueFd fd = listener_.accept()) {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      const int raw = fd.get();
      fds_.push_back(std::move(fd));
      workers_.emplace_back([this, raw] { serve(raw); });
    }
  }

  bool fill(int fd, std::string& pending) {
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
    return true;
  }

  void write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd, bytes.data(), bytes.size(), platform::kSendFlags);
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }

  void serve(int fd) {
    std::string pending;
    size_t index = 0;
    while (pending.find("\r\n\r\n") == std::string::npos)
      if (!fill(fd, pending)) return finish(fd, std::nullopt);
    const size_t head_end = pending.find("\r\n\r\n") + 4;
    {
      std::lock_guard lock(mutex_);
      index = streams_.size();
      streams_.push_back({});
      streams_.back().head = pending.substr(0, head_end);
      stream_fds_.push_back(fd);
    }
    changed_.notify_all();
    pending.erase(0, head_end);
    const StreamAnswer answer = choose_ ? choose_(index) : StreamAnswer{};
    if (answer.status == 0) {
      while (fill(fd, pending)) pending.clear();
      return finish(fd, index);
    }
    if (answer.status != 200) {
      write_all(fd, "HTTP/1.1 " + std::to_string(answer.status) +
                        " Nope\r\ncontent-length: 0\r\nconnection: close\r\n\r\n");
      return finish(fd, index);
    }
    write_all(fd, "HTTP/1.1 200 OK\r\n" + answer.headers +
                      "content-type: text/plain\r\ntransfer-encoding: chunked\r\n\r\n");
    if (!answer.read_body) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_; });
      lock.unlock();
      return finish(fd, index);
    }
    size_t at = 0;  // parsed so far; the buffer is compacted now and then
    for (;;) {
      size_t line_end;
      while ((line_end = pending.find("\r\n", at)) == std::string::npos)
        if (!fill(fd, pending)) return finish(fd, index);
      const size_t size = std::strtoul(pending.c_str() + at, nullptr, 16);
      const size_t whole = line_end + 2 + size + 2 - at;
      while (pending.size() - at < whole)
        if (!fill(fd, pending)) return finish(fd, index);
      {
        std::lock_guard lock(mutex_);
        ReceivedStream& s = streams_[index];
        s.raw_body.append(pending, at, whole);
        if (size == 0) {
          s.complete = true;
        } else {
          s.chunks.push_back(pending.substr(line_end + 2, size));
          s.body += s.chunks.back();
        }
      }
      changed_.notify_all();
      at += whole;
      if (at > (1u << 20)) {
        pending.erase(0, at);
        at = 0;
      }
      if (size == 0) break;
    }
    pending.erase(0, at);
    if (!answer.answer_at_end) {
      while (fill(fd, pending)) pending.clear();
      return finish(fd, index);
    }
    write_all(fd, "0\r\n\r\n");
    finish(fd, index);
  }

  void finish(int fd, std::optional<size_t> index) {
    ::shutdown(fd, SHUT_RDWR);
    {
      std::lock_guard lock(mutex_);
      if (index) streams_[*index].closed = true;
    }
    changed_.notify_all();
  }

  Chooser choose_;
  daemon::testing::LoopbackListener listener_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::vector<ReceivedStream> streams_;
  std::vector<int> stream_fds_;
  std::vector<UniqueFd> fds_;  // closed when the server goes
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// The frames of a stream's body, in order; a cut frame at the end is left out.
inline std::vector<Frame> decode_frames(std::string_view body) {
  std::vector<Frame> frames;
  while (body.size() >= 5) {
    uint64_t n = 0;
    for (int i = 1; i <= 4; ++i) n = (n << 8) | static_cast<unsigned char>(body[i]);
    if (body.size() < 5 + n) break;
    frames.push_back(Frame{body[0], std::string(body.substr(5, n))});
    body.remove_prefix(5 + n);
  }
  return frames;
}

inline uint64_t frame_number(std::string_view body, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(body[at + i]);
  return v;
}

}  // namespace mossbank::run::testing
