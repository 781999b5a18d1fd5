#include "daemon/daemon_client.h"

#include <algorithm>

#include "base/utf8.h"
#include "daemon/config.h"
#include "daemon/daemon_api.h"
#include "daemon/proof.h"

namespace mossbank {

std::function<std::optional<std::string>()> config_token(std::string home) {
  return [home = std::move(home)]() -> std::optional<std::string> {
    auto config = read_config(home);
    if (!config) return std::nullopt;
    return config->token;
  };
}

std::chrono::nanoseconds post_within_timeout(std::chrono::nanoseconds requested) {
  return std::min<std::chrono::nanoseconds>(requested, kDaemonCallTimeout);
}

DaemonReply daemon_reply_from(const HttpReply& reply) {
  DaemonReply out;
  out.status = reply.status;
  if (reply.body.empty()) {
    out.body = nullptr;
  } else if (auto parsed = parse_json(reply.body)) {
    out.body = std::move(*parsed);
  } else {
    out.body = utf8_lossy(reply.body);
  }
  return out;
}

HttpDaemonClient::HttpDaemonClient(std::string home, TokenSource source)
    : home_(std::move(home)), source_(std::move(source)) {}

DaemonAnswer HttpDaemonClient::get(const std::string& path) {
  return daemon_request("GET", path, nullptr, kDaemonCallTimeout, std::nullopt);
}

DaemonAnswer HttpDaemonClient::post(const std::string& path, const JsonValue& body) {
  return daemon_request("POST", path, &body, kDaemonCallTimeout, std::nullopt);
}

DaemonAnswer HttpDaemonClient::post_within(const std::string& path, const JsonValue& body,
                                           std::chrono::nanoseconds timeout) {
  std::chrono::nanoseconds within = post_within_timeout(timeout);
  return daemon_request("POST", path, &body, within, std::chrono::steady_clock::now() + within);
}

namespace {

// What a step may take: its own time-out, or less when a deadline is near.
std::chrono::nanoseconds step_timeout(
    std::chrono::nanoseconds own,
    const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  if (!deadline) return own;
  auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
      *deadline - std::chrono::steady_clock::now());
  return std::min(own, left);
}

bool time_left(std::chrono::nanoseconds t) { return t > std::chrono::nanoseconds::zero(); }

}  // namespace

std::optional<std::string> HttpDaemonClient::refresh_token(const std::string& rejected,
                                                           uint16_t port, Deadline deadline) {
  std::optional<std::string> fresh = source_.token ? source_.token() : std::nullopt;
  if (!fresh || *fresh == rejected) return std::nullopt;
  auto prove_for = step_timeout(kProofTimeout, deadline);
  if (!time_left(prove_for) || !source_.prove || !source_.prove(port, *fresh, prove_for))
    return std::nullopt;
  std::lock_guard<std::mutex> lock(token_mutex_);
  token_ = fresh;
  return fresh;
}

DaemonAnswer HttpDaemonClient::daemon_request(const char* method, const std::string& path,
                                              const JsonValue* body,
                                              std::chrono::nanoseconds timeout, Deadline deadline) {
  auto config = read_config(home_);
  if (!config) return std::nullopt;
  const uint16_t port = config->port;

  std::optional<std::string> body_text;
  if (body != nullptr) body_text = to_js_json(*body);

  std::string token;
  {
    std::lock_guard<std::mutex> lock(token_mutex_);
    if (!token_ && source_.token) token_ = source_.token();
    token = token_.value_or("");
  }

  auto prove_for = step_timeout(kProofTimeout, deadline);
  if (!time_left(prove_for)) return std::nullopt;
  if (!source_.prove || !source_.prove(port, token, prove_for)) {
    auto fresh = refresh_token(token, port, deadline);
    if (!fresh) return std::nullopt;
    token = *fresh;
  }

  auto send_with_token = [&](const std::string& with) -> HttpResponse {
    HttpRequest request;
    request.timeout = step_timeout(timeout, deadline);
    if (!time_left(request.timeout)) return HttpFailure{true, false};
    request.method = method;
    request.path = path;
    request.headers.emplace_back(std::string(kTokenHeader), with);
    if (body_text)
      request.headers.emplace_back(std::string(kContentTypeHeader), std::string(kJsonContentType));
    request.body = body_text;
    request.port = port;
    return send_pooled(pool_, request);
  };

  HttpResponse response = send_with_token(token);
  const auto* reply = std::get_if<HttpReply>(&response);
  if (reply == nullptr) return std::nullopt;
  if (reply->status == kStatusUnauthorized || reply->status == kStatusNotFound) {
    if (auto fresh = refresh_token(token, port, deadline)) {
      response = send_with_token(*fresh);
      reply = std::get_if<HttpReply>(&response);
      if (reply == nullptr) return std::nullopt;
    }
  }
  return daemon_reply_from(*reply);
}

std::unique_ptr<DaemonClient> make_daemon_client(std::string home) {
  TokenSource source{config_token(home),
                     [](uint16_t port, const std::string& token, std::chrono::nanoseconds t) {
                       return daemon_proves_itself(port, token, t);
                     }};
  return std::make_unique<HttpDaemonClient>(std::move(home), std::move(source));
}

}  // namespace mossbank
