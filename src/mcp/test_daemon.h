// A stand-in DaemonClient for the unit tests: it records each call and
// answers with the test's handler. (The whole-program tests use the real
// client against the stand-in daemon.)
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/version.h"
#include "daemon/daemon_client.h"
#include "mcp/mcp.h"

namespace mossbank::mcp::testing {

struct DaemonCall {
  std::string method;  // "GET" or "POST"
  std::string path;
  std::optional<JsonValue> body;
  std::optional<std::chrono::nanoseconds> within;  // post_within's time-out
};

class FakeDaemon final : public DaemonClient {
 public:
  using Handler = std::function<DaemonAnswer(const DaemonCall&)>;

  explicit FakeDaemon(Handler handler = {}) : handler_(std::move(handler)) {}

  DaemonAnswer get(const std::string& path) override { return call({"GET", path, {}, {}}); }
  DaemonAnswer post(const std::string& path, const JsonValue& body) override {
    return call({"POST", path, body, {}});
  }
  DaemonAnswer post_within(const std::string& path, const JsonValue& body,
                           std::chrono::nanoseconds timeout) override {
    return call({"POST", path, body, timeout});
  }

  std::vector<DaemonCall> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  DaemonAnswer call(DaemonCall c) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(c);
    }
    return handler_ ? handler_(c) : DaemonAnswer{};
  }

  Handler handler_;
  mutable std::mutex mutex_;
  std::vector<DaemonCall> calls_;
};

inline DaemonAnswer answer(uint16_t status, JsonValue body) {
  return DaemonReply{std::move(body), status};
}

inline JsonValue json(std::string_view text) {
  std::optional<JsonValue> v = parse_json(text);
  if (!v) throw std::runtime_error("test JSON does not parse: " + std::string(text));
  return *v;
}

inline std::shared_ptr<const McpServerContext> context_with(std::shared_ptr<DaemonClient> daemon,
                                                            CallIdentity identity = {}) {
  return make_server_context(kVersion, std::move(identity), std::move(daemon));
}

}  // namespace mossbank::mcp::testing
