#include "daemon/http_client.h"

#include <unistd.h>

namespace mossbank {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}
Socket::~Socket() { reset(); }
void Socket::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::variant<Socket, HttpFailure> connect_loopback(uint16_t, std::chrono::nanoseconds) {
  return HttpFailure{};
}
PooledConnection::PooledConnection() : clock_([] { return std::chrono::steady_clock::now(); }) {}
PooledConnection::PooledConnection(Clock clock) : clock_(std::move(clock)) {}
PooledConnection::~PooledConnection() = default;
HttpResponse send_once(const HttpRequest&) { return HttpFailure{}; }
HttpResponse send_pooled(PooledConnection&, const HttpRequest&) { return HttpFailure{}; }
std::optional<std::string> write_request_head(const HttpRequest&, bool) { return std::nullopt; }
std::optional<std::string> header_value_bytes(std::string_view) { return std::nullopt; }
HttpFailure classify_io_error(int) { return {}; }
HttpHeaders collect_response_headers(std::string_view) { return {}; }
const std::string* find_header(const HttpHeaders&, std::string_view) { return nullptr; }
ResponseReader::Progress ResponseReader::add(std::string_view) { return Progress::failed; }
ResponseReader::Progress ResponseReader::end_of_stream() { return Progress::failed; }
HttpResponse ResponseReader::take_response() { return HttpFailure{}; }
bool ResponseReader::reusable() const { return false; }

}  // namespace mossbank
