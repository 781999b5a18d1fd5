#include "daemon/daemon_client.h"

namespace mossbank {

std::function<std::optional<std::string>()> config_token(std::string) {
  return [] { return std::optional<std::string>(); };
}
std::chrono::nanoseconds post_within_timeout(std::chrono::nanoseconds r) { return r; }
DaemonReply daemon_reply_from(const HttpReply&) { return {}; }
HttpDaemonClient::HttpDaemonClient(std::string home, TokenSource source)
    : home_(std::move(home)), source_(std::move(source)) {}
DaemonAnswer HttpDaemonClient::get(const std::string&) { return std::nullopt; }
DaemonAnswer HttpDaemonClient::post(const std::string&, const JsonValue&) { return std::nullopt; }
DaemonAnswer HttpDaemonClient::post_within(const std::string&, const JsonValue&,
                                           std::chrono::nanoseconds) {
  return std::nullopt;
}
std::unique_ptr<DaemonClient> make_daemon_client(std::string home) {
  return std::make_unique<HttpDaemonClient>(std::move(home), TokenSource{});
}

}  // namespace mossbank
