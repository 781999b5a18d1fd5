// The daemon JSON client the MCP server is handed.
//
// DaemonClient is the interface (get, post, post_within); HttpDaemonClient
// implements it over send_pooled. Every call:
//   - reads config.json again for the port (missing or invalid: transport
//     failure, nothing sent);
//   - takes the token from its cache, filled from the token provider on
//     first use;
//   - asks the daemon prover first; when the daemon does not prove itself
//     with the cached token the token is refreshed, and the call fails when
//     that fails;
//   - sends with "x-mossbank-token" (and "content-type: application/json"
//     with a body written by to_js_json);
//   - on a 401 or 404 refreshes the token once and, when a new token is
//     accepted, sends once more and returns that answer; otherwise returns
//     the first answer.
// A refresh accepts a token only when the provider gives one that differs
// from the rejected token and the daemon proves itself with it.
//
// The body of an answer is the response body parsed as JSON; a body that is
// not JSON is the JSON string of its text (invalid UTF-8 replaced); an empty
// body is null. Statuses other than 401/404 are not judged here.
//
// Time-outs: get and post 10 s for the request, after the proof's own 2 s;
// post_within the given duration, at most 10 s, as one deadline over the
// whole call (proof, token refresh and request), so that a caller such as
// initialize gets its answer in time even from a daemon that never answers.
// HttpDaemonClient may be called from several threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/json.h"
#include "daemon/http_client.h"

namespace mossbank {

struct DaemonReply {
  JsonValue body;
  uint16_t status = 0;
};

// None: the daemon could not be reached (or no config, or no proof).
using DaemonAnswer = std::optional<DaemonReply>;

inline constexpr std::chrono::seconds kDaemonCallTimeout{10};

class DaemonClient {
 public:
  virtual ~DaemonClient() = default;
  virtual DaemonAnswer get(const std::string& path) = 0;
  virtual DaemonAnswer post(const std::string& path, const JsonValue& body) = 0;
  virtual DaemonAnswer post_within(const std::string& path, const JsonValue& body,
                                   std::chrono::nanoseconds timeout) = 0;
};

struct TokenSource {
  // The token to use now; none when config.json is missing or invalid.
  std::function<std::optional<std::string>()> token;
  // Whether the daemon on this port proves itself with this token, asked
  // within `timeout` at most.
  std::function<bool(uint16_t port, const std::string& token, std::chrono::nanoseconds timeout)>
      prove;
};

// A provider that reads the `token` of <home>/config.json on every call.
std::function<std::optional<std::string>()> config_token(std::string home);

// The time-out post_within uses for a requested one: at most 10 s.
std::chrono::nanoseconds post_within_timeout(std::chrono::nanoseconds requested);

// The answer a DaemonClient call gives for an HTTP reply.
DaemonReply daemon_reply_from(const HttpReply& reply);

class HttpDaemonClient final : public DaemonClient {
 public:
  HttpDaemonClient(std::string home, TokenSource source);

  DaemonAnswer get(const std::string& path) override;
  DaemonAnswer post(const std::string& path, const JsonValue& body) override;
  DaemonAnswer post_within(const std::string& path, const JsonValue& body,
                           std::chrono::nanoseconds timeout) override;

 private:
  // Without a deadline each step has its own time-out; with one, every step
  // gets what is left of it.
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  DaemonAnswer daemon_request(const char* method, const std::string& path, const JsonValue* body,
                              std::chrono::nanoseconds timeout, Deadline deadline);
  std::optional<std::string> refresh_token(const std::string& rejected, uint16_t port,
                                           Deadline deadline);

  std::string home_;
  TokenSource source_;
  std::mutex token_mutex_;
  std::optional<std::string> token_;
  PooledConnection pool_;
};

// The client the tool uses: config_token(home) and daemon_proves_itself.
std::unique_ptr<DaemonClient> make_daemon_client(std::string home);

}  // namespace mossbank
