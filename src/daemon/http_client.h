// The tool's HTTP/1.1 client to the village daemon on 127.0.0.1.
//
// One request is written, one whole response is read into memory and handed
// back as plain data. Nothing is retried, no redirect is followed, nothing is
// thrown: a failure is a value with two flags the callers decide on
// (timed_out ends a hook waiter; refused sends a hook event to the spool).
// Both flags are clear for every other failure: an invalid header value
// (nothing is sent, no connection opened), an unparsable or malformed answer,
// an answer over kMaxResponseBytes, a connection closed early.
//
//   send_once    a fresh connection per request ("connection: close").
//   send_pooled  "connection: keep-alive" on the pool's kept socket when it
//                is free, for the same port, put back under 2 s ago, and
//                nothing (stray bytes, the daemon's close) arrived on it
//                since; when another thread holds the pool it sends with
//                send_once instead of waiting. Safe to call from several
//                threads. A socket is kept only after a framed HTTP/1.1
//                answer of status 200 or more without "connection: close"
//                and with no byte beyond the answer.
//
// The time-out bounds the connect, each write, and the whole reading of the
// response as one deadline counted from the start of the exchange. A zero
// time-out is a failure (flags clear).
//
// Request bytes, exactly: "<method> <path> HTTP/1.1\r\n",
// "host: 127.0.0.1:<port>\r\n", "connection: keep-alive|close\r\n",
// "accept: */*\r\n", each header as "<name>: <value>\r\n" in list order,
// "content-length: <n>\r\n" only when a body is present, "\r\n", the body.
// Header values go out as Latin-1: one byte per character; a character above
// U+00FF, NUL, CR or LF makes the request invalid.
//
// Response framing: 1xx, 204 and 304 end at the blank line (empty body);
// else "transfer-encoding: chunked" (no trailers); else "content-length";
// else the body runs to the end of the stream. Response header names come
// back lower-cased and trimmed, values trimmed, in the answer's order.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/unique_fd.h"
#include "daemon/chunked.h"

namespace mossbank {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::chrono::nanoseconds timeout{0};
  std::string method;  // "GET", "POST", "DELETE"
  std::string path;    // written as given; the caller percent-encodes
  HttpHeaders headers;
  std::optional<std::string> body;
  uint16_t port = 0;
};

struct HttpReply {
  std::string body;  // decoded from the transfer framing
  uint16_t status = 0;
  HttpHeaders headers;
};

struct HttpFailure {
  bool timed_out = false;
  bool refused = false;
};

using HttpResponse = std::variant<HttpReply, HttpFailure>;

// An answer larger than this (head and framed body as read) is a failure.
inline constexpr size_t kMaxResponseBytes = 64u << 20;

// A kept socket is reused only this soon after it was put back.
inline constexpr std::chrono::milliseconds kKeepAliveWindow{2000};

// A blocking TCP socket connected to 127.0.0.1:port within `timeout`; a
// failure carries the flags of classify_io_error.
std::variant<UniqueFd, HttpFailure> connect_loopback(uint16_t port,
                                                     std::chrono::nanoseconds timeout);

// For the run's streaming sockets (from connect_loopback), which carry one
// long exchange each rather than a request and its answer:
// writes all of `bytes`, blocking, without raising SIGPIPE; false once a
// write fails or the peer has closed.
bool send_all(int fd, std::string_view bytes);
// Bounds each read on the socket (SO_RCVTIMEO); 0 waits without end.
bool set_read_timeout(int fd, std::chrono::milliseconds timeout);

// Holds at most one kept-alive socket for send_pooled. The clock is the
// monotonic clock; tests may pass their own to step over the 2 s window.
class PooledConnection {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  PooledConnection();
  explicit PooledConnection(Clock clock);
  PooledConnection(const PooledConnection&) = delete;
  PooledConnection& operator=(const PooledConnection&) = delete;
  ~PooledConnection();

 private:
  friend HttpResponse send_pooled(PooledConnection& pool, const HttpRequest& request);
  std::mutex mutex_;  // only ever try-locked
  UniqueFd socket_;
  uint16_t port_ = 0;
  std::chrono::steady_clock::time_point put_back_{};
  Clock clock_;
};

HttpResponse send_once(const HttpRequest& request);
HttpResponse send_pooled(PooledConnection& pool, const HttpRequest& request);

// A request head as it goes on the wire: "<method> <path> HTTP/1.1\r\n",
// "host: 127.0.0.1:<port>\r\n", each header as "<name>: <value>\r\n" in
// order, "\r\n". None when a header value is invalid. Every request the
// tool makes starts with one.
std::optional<std::string> request_head(std::string_view method, std::string_view path,
                                        uint16_t port, const HttpHeaders& headers);

// The request's head and body as they go on the wire; none when a header
// value is invalid.
std::optional<std::string> write_request_head(const HttpRequest& request, bool keep_alive);

// A header value as Latin-1 bytes; none for a character above U+00FF, NUL,
// CR or LF (or text that is not UTF-8).
std::optional<std::string> header_value_bytes(std::string_view value);

// errno → flags: timed out for EAGAIN/EWOULDBLOCK/ETIMEDOUT, refused for
// ECONNREFUSED, neither otherwise.
HttpFailure classify_io_error(int err);

// The header lines of a response head (the status line and the lines after
// it, without the blank line): every line after the first that holds ":"
// gives (name trimmed and lower-cased, value trimmed); others are skipped.
HttpHeaders collect_response_headers(std::string_view head);

// The value of the first header named `lower_name`, or nullptr.
const std::string* find_header(const HttpHeaders& headers, std::string_view lower_name);

// A response head: the status (the status line's second blank-separated
// field, decimal, an optional "+") and the headers (collect_response_headers).
struct ResponseHead {
  uint16_t status = 0;
  HttpHeaders headers;
};

// From the head's bytes before its blank line; none without a status.
std::optional<ResponseHead> parse_response_head(std::string_view head);

inline constexpr size_t kMaxStreamHead = 64 * 1024;

// Reads a response head off a streaming socket, in reads of up to 8 KiB, to
// its blank line: the head and the bytes read beyond it (the body's start).
// None on a read error, the end of the stream, a head past kMaxStreamHead,
// or no status.
struct StreamHead {
  ResponseHead head;
  std::string rest;
};
std::optional<StreamHead> read_response_head(int fd);

// Reads one response from bytes as they arrive. Exposed for the fuzzer and
// the tests; send_once/send_pooled drive it from the socket.
class ResponseReader {
 public:
  enum class Progress { need_more, complete, failed };

  // Appends bytes read from the connection and looks at what is buffered.
  Progress add(std::string_view bytes);
  // The connection ended: what is buffered is the whole (unframed) answer.
  Progress end_of_stream();

  // After complete: the decoded answer, or a failure with both flags clear.
  HttpResponse take_response();
  // After complete: whether the connection may carry another exchange (the
  // answer was framed, HTTP/1.1, not "connection: close", not 1xx, and no
  // byte arrived beyond it).
  bool reusable() const;

 private:
  Progress frame();
  Progress fail();

  std::string buffer_;
  Progress progress_ = Progress::need_more;
  bool framed_ = false;
  size_t head_end_ = 0;  // offset of the blank line's CR LF CR LF, once found
  size_t scanned_ = 0;   // where the search for the blank line resumes
  bool head_read_ = false;
  uint16_t status_ = 0;
  HttpHeaders headers_;
  bool http11_ = false;
  bool close_ = false;  // "connection: close"
  enum class Body { none, chunked, length, to_end } body_kind_ = Body::none;
  uint64_t length_ = 0;
  size_t chunk_at_ = 0;  // the first byte of a chunked body not yet decoded
  ChunkedDecoder chunked_{ChunkedRules::answer(kMaxResponseBytes)};
  std::string chunked_body_;
  size_t end_ = 0;  // end of the framed answer
};

}  // namespace mossbank
