#include "daemon/http_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/numbers.h"
#include "base/status.h"
#include "base/text.h"
#include "base/utf8.h"
#include "platform/sockets.h"

namespace mossbank {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kBlockingSendFlags = platform::kSendFlags;
constexpr int kSendFlags = kBlockingSendFlags | MSG_DONTWAIT;

constexpr size_t kReadStep = 16384;

// Longer than any caller asks for, short enough that now + it cannot overflow.
constexpr std::chrono::nanoseconds kLongestTimeout = std::chrono::hours(24 * 365 * 50);

std::chrono::nanoseconds clamp_timeout(std::chrono::nanoseconds t) {
  return std::min(t, kLongestTimeout);
}

// Milliseconds for poll(), rounded up so that a wait never ends early.
int poll_millis(std::chrono::nanoseconds left) {
  if (left <= std::chrono::nanoseconds::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

// Waits until `fd` is ready for `events` or the deadline passes; ETIMEDOUT
// when time ran out.
Status wait_ready(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    auto left = deadline - SteadyClock::now();
    if (left <= std::chrono::nanoseconds::zero()) return os_failure(ETIMEDOUT);
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, poll_millis(left));
    if (r > 0) return ok_status();
    if (r == 0) continue;  // re-checks the deadline
    if (errno != EINTR) return os_failure(errno);
  }
}

// An unsigned number in `base` (10 or 16) with an optional leading "+", as
// Rust's from_str_radix reads it; none when empty, not digits, or above `max`.
std::optional<uint64_t> parse_unsigned(std::string_view s, int base, uint64_t max) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  return base == 16 ? parse_hex(s, max) : parse_decimal(s, max);
}

// The status of a response's first line: its second blank-separated field.
std::optional<uint16_t> parse_status(std::string_view first_line) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < first_line.size() && (first_line[i] == ' ' || first_line[i] == '\t')) ++i;
  };
  auto field_end = [&] {
    size_t j = i;
    while (j < first_line.size() && first_line[j] != ' ' && first_line[j] != '\t') ++j;
    return j;
  };
  skip_blanks();
  i = field_end();
  skip_blanks();
  size_t end = field_end();
  auto v = parse_unsigned(first_line.substr(i, end - i), 10, 65535);
  if (!v) return std::nullopt;
  return static_cast<uint16_t>(*v);
}

// Sends every byte; EAGAIN when one send waited the whole time-out.
Status send_all(int fd, std::string_view bytes, std::chrono::nanoseconds timeout) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, kSendFlags);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return os_failure(EIO);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return os_failure(errno);
    // Each write may wait the whole time-out, as a send time-out would.
    Status ready = wait_ready(fd, POLLOUT, SteadyClock::now() + timeout);
    if (ready.code == ETIMEDOUT) return os_failure(EAGAIN);
    if (!ready) return ready;
  }
  return ok_status();
}

struct Exchange {
  HttpResponse response;
  bool reusable = false;
};

// Writes the request and reads the answer until the deadline.
Exchange exchange(int fd, std::string_view bytes, std::chrono::nanoseconds timeout,
                  SteadyClock::time_point deadline) {
  if (Status sent = send_all(fd, bytes, timeout); !sent)
    return {classify_io_error(sent.code), false};
  ResponseReader reader;
  char buf[kReadStep];
  ResponseReader::Progress progress = ResponseReader::Progress::need_more;
  while (progress == ResponseReader::Progress::need_more) {
    if (SteadyClock::now() >= deadline) return {HttpFailure{true, false}, false};
    Status ready = wait_ready(fd, POLLIN, deadline);
    if (ready.code == ETIMEDOUT) return {HttpFailure{true, false}, false};
    if (!ready) return {classify_io_error(ready.code), false};
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      progress = reader.add(std::string_view(buf, static_cast<size_t>(n)));
    } else if (n == 0) {
      progress = reader.end_of_stream();
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return {classify_io_error(errno), false};
    }
  }
  bool reusable = progress == ResponseReader::Progress::complete && reader.reusable();
  return {reader.take_response(), reusable};
}

// A kept socket on which something arrived since its answer (stray bytes, or
// the daemon's close) would hand its bytes to the next exchange.
bool quiet(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

}  // namespace

HttpFailure classify_io_error(int err) {
  HttpFailure f;
  f.timed_out = err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT;
  f.refused = err == ECONNREFUSED;
  return f;
}

std::variant<UniqueFd, HttpFailure> connect_loopback(uint16_t port,
                                                     std::chrono::nanoseconds timeout) {
  if (timeout <= std::chrono::nanoseconds::zero()) return HttpFailure{};
  timeout = clamp_timeout(timeout);
  Result<UniqueFd> opened = platform::open_socket(AF_INET, SOCK_STREAM);
  if (!opened) return classify_io_error(opened.status().code);
  UniqueFd sock = std::move(*opened);
  int flags = ::fcntl(sock.get(), F_GETFL);
  if (flags < 0 || ::fcntl(sock.get(), F_SETFL, flags | O_NONBLOCK) < 0)
    return classify_io_error(errno);

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return classify_io_error(errno);
    if (Status ready = wait_ready(sock.get(), POLLOUT, SteadyClock::now() + timeout); !ready)
      return classify_io_error(ready.code);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &so_error, &len) != 0)
      return classify_io_error(errno);
    if (so_error != 0) return classify_io_error(so_error);
  }
  if (::fcntl(sock.get(), F_SETFL, flags) < 0) return classify_io_error(errno);
  return sock;
}

std::optional<std::string> header_value_bytes(std::string_view value) {
  if (!is_valid_utf8(value)) return std::nullopt;
  std::string out;
  out.reserve(value.size());
  size_t pos = 0;
  while (pos < value.size()) {
    char32_t cp = next_code_point(value, pos);
    if (cp > 0xFF || cp == 0 || cp == '\n' || cp == '\r') return std::nullopt;
    out += static_cast<char>(static_cast<unsigned char>(cp));
  }
  return out;
}

std::optional<std::string> request_head(std::string_view method, std::string_view path,
                                        uint16_t port, const HttpHeaders& headers) {
  std::string out;
  out.reserve(64 + path.size());
  out += method;
  out += ' ';
  out += path;
  out += " HTTP/1.1\r\nhost: 127.0.0.1:";
  out += std::to_string(port);
  out += "\r\n";
  for (const auto& [name, value] : headers) {
    auto bytes = header_value_bytes(value);
    if (!bytes) return std::nullopt;
    out += name;
    out += ": ";
    out += *bytes;
    out += "\r\n";
  }
  out += "\r\n";
  return out;
}

std::optional<std::string> write_request_head(const HttpRequest& request, bool keep_alive) {
  HttpHeaders headers;
  headers.reserve(request.headers.size() + 3);
  headers.emplace_back("connection", keep_alive ? "keep-alive" : "close");
  headers.emplace_back("accept", "*/*");
  headers.insert(headers.end(), request.headers.begin(), request.headers.end());
  if (request.body) headers.emplace_back("content-length", std::to_string(request.body->size()));
  std::optional<std::string> out =
      request_head(request.method, request.path, request.port, headers);
  if (out && request.body) *out += *request.body;
  return out;
}

HttpHeaders collect_response_headers(std::string_view head) {
  HttpHeaders headers;
  size_t pos = head.find("\r\n");
  while (pos != std::string_view::npos) {
    pos += 2;
    size_t end = head.find("\r\n", pos);
    std::string_view line = head.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (size_t colon = line.find(':'); colon != std::string_view::npos) {
      headers.emplace_back(ascii_lower(trim_unicode_space(line.substr(0, colon))),
                           std::string(trim_unicode_space(line.substr(colon + 1))));
    }
    pos = end;
  }
  return headers;
}

const std::string* find_header(const HttpHeaders& headers, std::string_view lower_name) {
  for (const auto& [name, value] : headers)
    if (name == lower_name) return &value;
  return nullptr;
}

std::optional<ResponseHead> parse_response_head(std::string_view head) {
  auto status = parse_status(head.substr(0, head.find("\r\n")));
  if (!status) return std::nullopt;
  return ResponseHead{*status, collect_response_headers(head)};
}

std::optional<StreamHead> read_response_head(int fd) {
  std::string bytes;
  char buffer[8192];
  size_t scanned = 0;
  for (;;) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    bytes.append(buffer, static_cast<size_t>(n));
    if (size_t end = bytes.find("\r\n\r\n", scanned); end != std::string::npos) {
      std::optional<ResponseHead> head =
          parse_response_head(std::string_view(bytes).substr(0, end));
      if (!head) return std::nullopt;
      return StreamHead{std::move(*head), bytes.substr(end + 4)};
    }
    if (bytes.size() > kMaxStreamHead) return std::nullopt;
    scanned = bytes.size() < 3 ? 0 : bytes.size() - 3;
  }
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), kBlockingSendFlags);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool set_read_timeout(int fd, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

ResponseReader::Progress ResponseReader::fail() { return progress_ = Progress::failed; }

ResponseReader::Progress ResponseReader::add(std::string_view bytes) {
  if (progress_ != Progress::need_more) return progress_;
  buffer_.append(bytes);
  progress_ = frame();
  // One read may carry both the end of the answer and the crossing of the
  // limit (a chunked body is only bounded chunk by chunk while it is walked).
  size_t held = progress_ == Progress::complete ? end_ : buffer_.size();
  if (progress_ != Progress::failed && held > kMaxResponseBytes) return fail();
  if (progress_ == Progress::complete) framed_ = true;
  return progress_;
}

ResponseReader::Progress ResponseReader::end_of_stream() {
  if (progress_ != Progress::need_more) return progress_;
  // A body that runs to the end of the stream is now whole; any other answer
  // still waiting for bytes is cut short.
  if (!head_read_ || body_kind_ != Body::to_end) return fail();
  end_ = buffer_.size();
  framed_ = false;
  return progress_ = Progress::complete;
}

ResponseReader::Progress ResponseReader::frame() {
  if (!head_read_) {
    size_t at = buffer_.find("\r\n\r\n", scanned_);
    if (at == std::string::npos) {
      scanned_ = buffer_.size() < 3 ? 0 : buffer_.size() - 3;
      return Progress::need_more;
    }
    head_read_ = true;
    head_end_ = at;
    // The head alone may be over the limit; the checks below count from its end.
    size_t body_at = at + 4;
    if (body_at > kMaxResponseBytes) return fail();
    std::string_view head(buffer_.data(), at);
    // Waiting could not mend a head that is not UTF-8 or has no status.
    if (!is_valid_utf8(head)) return fail();
    std::string_view first = head.substr(0, head.find("\r\n"));
    std::optional<ResponseHead> parsed = parse_response_head(head);
    if (!parsed) return fail();
    status_ = parsed->status;
    headers_ = std::move(parsed->headers);
    http11_ = ascii_lower(first.substr(0, 9)) == "http/1.1 ";
    for (const auto& [name, value] : headers_)
      if (name == "connection" && ascii_lower(value) == "close") close_ = true;

    if (status_ < 200 || status_ == 204 || status_ == 304) {
      body_kind_ = Body::none;
      end_ = body_at;
      return Progress::complete;
    }
    const std::string* te = find_header(headers_, "transfer-encoding");
    const std::string* cl = find_header(headers_, "content-length");
    if (te != nullptr && ascii_lower(*te) == "chunked") {
      body_kind_ = Body::chunked;
      chunk_at_ = body_at;
    } else if (cl != nullptr) {
      auto length = parse_unsigned(*cl, 10, UINT64_MAX);
      if (!length) return fail();
      if (*length > kMaxResponseBytes - body_at) return fail();
      body_kind_ = Body::length;
      length_ = *length;
    } else {
      body_kind_ = Body::to_end;
    }
  }

  switch (body_kind_) {
    case Body::none:
      return Progress::complete;
    case Body::to_end:
      return Progress::need_more;
    case Body::length:
      if (buffer_.size() - (head_end_ + 4) < length_) return Progress::need_more;
      end_ = head_end_ + 4 + static_cast<size_t>(length_);
      return Progress::complete;
    case Body::chunked: {
      size_t used = 0;
      const ChunkedDecoder::Status status =
          chunked_.feed(std::string_view(buffer_).substr(chunk_at_), chunked_body_, &used);
      chunk_at_ += used;
      if (status == ChunkedDecoder::Status::failed) return fail();
      if (status == ChunkedDecoder::Status::more) return Progress::need_more;
      end_ = chunk_at_;
      return Progress::complete;
    }
  }
  return Progress::need_more;
}

HttpResponse ResponseReader::take_response() {
  if (progress_ != Progress::complete) return HttpFailure{};
  HttpReply reply;
  reply.status = status_;
  reply.headers = std::move(headers_);
  size_t body_at = head_end_ + 4;
  switch (body_kind_) {
    case Body::none:
      break;
    case Body::chunked:
      reply.body = std::move(chunked_body_);
      break;
    case Body::length:
    case Body::to_end:
      reply.body = buffer_.substr(body_at, end_ - body_at);
      break;
  }
  return reply;
}

bool ResponseReader::reusable() const {
  return progress_ == Progress::complete && framed_ && http11_ && !close_ && status_ >= 200 &&
         end_ == buffer_.size();
}

PooledConnection::PooledConnection() : clock_([] { return SteadyClock::now(); }) {}

PooledConnection::PooledConnection(Clock clock) : clock_(std::move(clock)) {}

PooledConnection::~PooledConnection() = default;

HttpResponse send_once(const HttpRequest& request) {
  auto timeout = clamp_timeout(request.timeout);
  auto deadline = SteadyClock::now() + timeout;
  auto bytes = write_request_head(request, /*keep_alive=*/false);
  if (!bytes) return HttpFailure{};
  auto connected = connect_loopback(request.port, timeout);
  if (auto* f = std::get_if<HttpFailure>(&connected)) return *f;
  UniqueFd sock = std::move(std::get<UniqueFd>(connected));
  return exchange(sock.get(), *bytes, timeout, deadline).response;
}

HttpResponse send_pooled(PooledConnection& pool, const HttpRequest& request) {
  std::unique_lock<std::mutex> lock(pool.mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return send_once(request);

  auto timeout = clamp_timeout(request.timeout);
  auto deadline = SteadyClock::now() + timeout;
  auto bytes = write_request_head(request, /*keep_alive=*/true);
  if (!bytes) return HttpFailure{};

  UniqueFd sock = std::move(pool.socket_);
  if (sock && !(pool.port_ == request.port && pool.clock_() - pool.put_back_ < kKeepAliveWindow &&
                quiet(sock.get())))
    sock.reset();
  if (timeout <= std::chrono::nanoseconds::zero()) return HttpFailure{};
  if (!sock) {
    auto connected = connect_loopback(request.port, timeout);
    if (auto* f = std::get_if<HttpFailure>(&connected)) return *f;
    sock = std::move(std::get<UniqueFd>(connected));
  }
  Exchange ex = exchange(sock.get(), *bytes, timeout, deadline);
  if (ex.reusable) {
    pool.socket_ = std::move(sock);
    pool.port_ = request.port;
    pool.put_back_ = pool.clock_();
  }
  return std::move(ex.response);
}

}  // namespace mossbank
