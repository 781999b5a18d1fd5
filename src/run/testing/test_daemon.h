// A village daemon for the run module's tests, on the daemon module's
// loopback server: a home directory with config.json, the proof, the
// registration and the run's posts answered with a status the test picks,
// and each command stream served by a script the test writes.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "daemon/proof.h"
#include "daemon/test_loopback_server.h"
#include "run/testing/test_files.h"
#include "run/testing/test_waits.h"

namespace mossbank::run::testing {

using daemon::testing::LoopbackServer;
using daemon::testing::request_body;
using daemon::testing::request_path;
using daemon::testing::ServerConnection;

inline std::string http_answer(int status, const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\ncontent-type: application/json\r\n" + extra +
         "content-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string chunk(const std::string& data) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx", data.size());
  return std::string(size) + "\r\n" + data + "\r\n";
}

inline constexpr const char* kChunkedHead =
    "HTTP/1.1 200 OK\r\ncontent-type: text/event-stream\r\ntransfer-encoding: chunked\r\n\r\n";

class FakeDaemon {
 public:
  // Serves one command stream (the n-th GET .../commands) on its connection.
  using Script = std::function<void(ServerConnection&)>;

  static constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

  FakeDaemon() : server_([this](ServerConnection& c, const std::string& r) { serve(c, r); }) {
    write_config();
  }

  ~FakeDaemon() {
    // Scripts still waiting end before the server joins its threads.
    for (auto& gate : gates_) gate.second.open();
  }

  uint16_t port() const { return server_.port(); }

  void write_config() {
    write_file("config.json",
               "{\"port\": " + std::to_string(port()) + ", \"token\": \"" + kToken + "\"}\n");
  }

  void write_file(const std::string& name, const std::string& text) {
    testing::write_file(scratch_ / name, text);
  }

  void remove_file(const std::string& name) { ::unlink((home + "/" + name).c_str()); }

  // The script of the n-th command stream (1-based); streams without one
  // are answered 404.
  void stream(int n, Script script) {
    std::lock_guard lock(mutex_);
    scripts_[n] = std::move(script);
  }

  Gate& gate(const std::string& name) {
    std::lock_guard lock(mutex_);
    return gates_[name];
  }

  void set_registration_status(int status) { registration_status_.store(status); }
  void set_post_status(int status) { post_status_.store(status); }

  // Every request so far whose first line starts with `prefix`, whole.
  std::vector<std::string> requests(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& r : server_.requests())
      if (r.bytes.starts_with(prefix)) out.push_back(r.bytes);
    return out;
  }

 private:
  ScratchDir scratch_;  // removed after the server has stopped

 public:
  const std::string home = scratch_.path();

 private:
  void serve(ServerConnection& conn, const std::string& request) {
    const std::string path = request_path(request);
    if (path.starts_with("/api/health?nonce=")) {
      const std::string nonce = path.substr(std::string("/api/health?nonce=").size());
      conn.write(http_answer(
          200, "{\"app\":\"mossbank\",\"proof\":\"" + proof_hmac_hex(kToken, port(), nonce) + "\"}",
          "connection: close\r\n"));
      conn.close();
    } else if (request.starts_with("POST /api/runs ")) {
      conn.write(http_answer(registration_status_.load(), "{\"ok\":true}"));
    } else if (request.starts_with("GET ") && path.ends_with("/commands")) {
      Script script;
      {
        std::lock_guard lock(mutex_);
        auto found = scripts_.find(++streams_);
        if (found != scripts_.end()) script = found->second;
      }
      if (!script) {
        conn.write(http_answer(404, "{\"error\":\"not found\"}", "connection: close\r\n"));
        conn.close();
        return;
      }
      script(conn);
    } else {
      conn.write(http_answer(post_status_.load(), "{\"ok\":true}"));
    }
  }

  std::mutex mutex_;
  std::map<int, Script> scripts_;
  std::map<std::string, Gate> gates_;
  int streams_ = 0;
  std::atomic<int> registration_status_{200};
  std::atomic<int> post_status_{200};
  LoopbackServer server_;  // last: its threads stop before the rest goes
};

}  // namespace mossbank::run::testing
