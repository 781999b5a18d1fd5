#include "daemon/daemon_client.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "daemon/proof.h"
#include "daemon/test_loopback_server.h"

namespace mossbank {
namespace {

using namespace std::chrono_literals;
using daemon::testing::LoopbackServer;
using daemon::testing::ServerConnection;

constexpr const char* kT1 = "token-one-0123456789";
constexpr const char* kT2 = "token-two-0123456789";

std::string http(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\ncontent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A stand-in daemon: proves itself with `proof_token`, accepts requests that
// carry `token` (401 otherwise) and answers them from `answers`.
class FakeDaemon {
 public:
  FakeDaemon()
      : server_([this](ServerConnection& conn, const std::string& request) {
          handle(conn, request);
        }) {}

  uint16_t port() const { return server_.port(); }

  void set(std::string proof_token, std::string token) {
    std::lock_guard<std::mutex> lock(m_);
    proof_token_ = std::move(proof_token);
    token_ = std::move(token);
  }
  // After rejecting a token, prove with the accepted one (a daemon whose token
  // changed between our proof and our request).
  void switch_proof_on_reject() { switch_proof_ = true; }
  void reject_with(int status) { reject_status_ = status; }
  void answer(const std::string& path, int status, std::string body) {
    std::lock_guard<std::mutex> lock(m_);
    answers_[path] = {status, std::move(body)};
  }
  void hang(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_);
    hanging_ = path;
  }
  // Health probes are accepted and never answered.
  void hang_proofs() { hang_proofs_ = true; }

  // The requests other than the health probes.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const auto& r : server_.requests())
      if (daemon::testing::request_path(r.bytes).rfind("/api/health", 0) != 0)
        out.push_back(r.bytes);
    return out;
  }
  std::vector<std::string> call_tokens() const {
    std::vector<std::string> out;
    for (const auto& c : calls())
      out.push_back(daemon::testing::request_header(c, "x-mossbank-token").value_or("-"));
    return out;
  }
  int connections() const { return server_.connections(); }

 private:
  void handle(ServerConnection& conn, const std::string& request) {
    std::string path = daemon::testing::request_path(request);
    std::unique_lock<std::mutex> lock(m_);
    if (path.rfind("/api/health?nonce=", 0) == 0) {
      if (hang_proofs_) return;
      std::string nonce = path.substr(path.find('=') + 1);
      conn.write(http(200, "{\"proof\":\"" + proof_hmac_hex(proof_token_, port(), nonce) + "\"}"));
      return;
    }
    if (path == hanging_) return;
    if (daemon::testing::request_header(request, "x-mossbank-token") != token_) {
      if (switch_proof_) proof_token_ = token_;
      conn.write(http(reject_status_, "{\"error\":\"unauthorized\"}"));
      return;
    }
    auto it = answers_.find(path);
    if (it == answers_.end()) {
      conn.write(http(200, "{}"));
    } else {
      conn.write(http(it->second.first, it->second.second));
    }
  }

  mutable std::mutex m_;
  std::string proof_token_ = kT1;
  std::string token_ = kT1;
  bool switch_proof_ = false;
  std::atomic<bool> hang_proofs_ = false;
  int reject_status_ = 401;
  std::string hanging_;
  std::map<std::string, std::pair<int, std::string>> answers_;
  LoopbackServer server_;
};

class DaemonClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/mossbank-client-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    write_config(daemon_.port(), kT1);
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  void write_config(uint16_t port, const std::string& token) {
    std::ofstream(home_ + "/config.json")
        << "{\n  \"port\": " << port << ",\n  \"token\": \"" << token
        << "\",\n  \"hookToken\": \"hook-0123456789abcdef\"\n}\n";
  }

  std::string home_;
  FakeDaemon daemon_;
  std::unique_ptr<DaemonClient> client_ = nullptr;

  DaemonClient& client() {
    if (!client_) client_ = make_daemon_client(home_);
    return *client_;
  }
};

TEST_F(DaemonClientTest, GetSendsTheTokenAndReadsJson) {
  daemon_.answer("/api/state", 200, "{\"residents\":[1,2]}");
  DaemonAnswer a = client().get("/api/state");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 200);
  EXPECT_EQ(a->body, JsonValue::parse("{\"residents\":[1,2]}"));
  auto calls = daemon_.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0],
            "GET /api/state HTTP/1.1\r\nhost: 127.0.0.1:" + std::to_string(daemon_.port()) +
                "\r\nconnection: keep-alive\r\naccept: */*\r\nx-mossbank-token: " + kT1 +
                "\r\n\r\n");
}

TEST_F(DaemonClientTest, PostWritesTheBodyAsJavaScriptWould) {
  JsonValue body = JsonValue::object();
  body["text"] = "hi\xe2\x80\xa8";
  body["7"] = 0.1 + 0.2;
  ASSERT_TRUE(client().post("/api/inbox", body));
  ASSERT_TRUE(client().post_within("/api/inbox", JsonValue::array(), 1500ms));
  auto calls = daemon_.calls();
  ASSERT_EQ(calls.size(), 2u);
  const std::string json = "{\"7\":0.30000000000000004,\"text\":\"hi\xe2\x80\xa8\"}";
  EXPECT_EQ(calls[0],
            "POST /api/inbox HTTP/1.1\r\nhost: 127.0.0.1:" + std::to_string(daemon_.port()) +
                "\r\nconnection: keep-alive\r\naccept: */*\r\nx-mossbank-token: " + kT1 +
                "\r\ncontent-type: application/json\r\ncontent-length: " +
                std::to_string(json.size()) + "\r\n\r\n" + json);
  EXPECT_EQ(daemon::testing::request_body(calls[1]), "[]");
}

TEST_F(DaemonClientTest, AnswerBodies) {
  struct Case {
    const char* path;
    int status;
    std::string body;
    JsonValue expected;
  };
  const Case cases[] = {
      {"/json", 200, "{\"a\":[true]}", JsonValue::parse("{\"a\":[true]}")},
      {"/text", 429, "not json", JsonValue("not json")},
      {"/empty", 200, "", JsonValue()},
      {"/bad-utf8", 500, "a\xff", JsonValue("a\xef\xbf\xbd")},
  };
  for (const Case& c : cases) {
    daemon_.answer(c.path, c.status, c.body);
    DaemonAnswer a = client().get(c.path);
    ASSERT_TRUE(a) << c.path;
    EXPECT_EQ(a->status, c.status) << c.path;
    EXPECT_EQ(a->body, c.expected) << c.path;
  }
}

TEST_F(DaemonClientTest, RefreshOn401WithANewTokenTheDaemonProves) {
  ASSERT_TRUE(client().get("/api/state"));  // caches kT1
  write_config(daemon_.port(), kT2);
  daemon_.set(kT1, kT2);
  daemon_.switch_proof_on_reject();
  DaemonAnswer a = client().get("/api/state");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 200);
  ASSERT_TRUE(client().get("/api/state"));  // the new token is kept
  EXPECT_EQ(daemon_.call_tokens(), (std::vector<std::string>{kT1, kT1, kT2, kT2}));
}

TEST_F(DaemonClientTest, NoSecondSendWithoutANewProvenToken) {
  ASSERT_TRUE(client().get("/api/state"));
  // The daemon now wants another token, but config.json still holds the old one.
  daemon_.set(kT1, kT2);
  DaemonAnswer a = client().get("/api/state");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 401);
  EXPECT_EQ(daemon_.call_tokens(), (std::vector<std::string>{kT1, kT1}));

  // A 404 with nothing new to try is the answer; a 500 is never retried.
  daemon_.set(kT1, kT1);
  daemon_.answer("/gone", 404, "");
  daemon_.answer("/broken", 500, "");
  write_config(daemon_.port(), kT2);  // a new token the daemon does not prove
  a = client().get("/gone");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 404);
  a = client().get("/broken");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 500);
  EXPECT_EQ(daemon_.calls().size(), 4u);
}

TEST_F(DaemonClientTest, A404IsSentAgainOnceWithAProvenNewToken) {
  ASSERT_TRUE(client().get("/api/state"));
  write_config(daemon_.port(), kT2);
  daemon_.set(kT1, kT2);
  daemon_.reject_with(404);
  daemon_.switch_proof_on_reject();
  DaemonAnswer a = client().get("/api/state");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 200);
  EXPECT_EQ(daemon_.call_tokens(), (std::vector<std::string>{kT1, kT1, kT2}));
}

TEST_F(DaemonClientTest, ProofBeforeEverySend) {
  ASSERT_TRUE(client().get("/api/state"));
  // The daemon restarted with a new token and wrote it to config.json.
  daemon_.set(kT2, kT2);
  write_config(daemon_.port(), kT2);
  DaemonAnswer a = client().get("/api/state");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 200);
  EXPECT_EQ(daemon_.call_tokens(), (std::vector<std::string>{kT1, kT2}));

  // Someone else answers on the port: no proof, no send.
  daemon_.set("an-impostor-token-0123", kT2);
  EXPECT_FALSE(client().get("/api/state"));
  EXPECT_EQ(daemon_.calls().size(), 2u);
}

TEST_F(DaemonClientTest, TransportFailures) {
  std::filesystem::remove(home_ + "/config.json");
  EXPECT_FALSE(client().get("/api/state"));
  EXPECT_FALSE(client().post("/api/inbox", JsonValue::object()));
  EXPECT_EQ(daemon_.connections(), 0);

  write_config(daemon::testing::closed_port(), kT1);
  EXPECT_FALSE(client().get("/api/state"));
}

TEST_F(DaemonClientTest, PostWithinIsOneDeadlineOverProofRefreshAndRequest) {
  daemon_.hang("/slow");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client().post_within("/slow", JsonValue::object(), 300ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1800ms);  // not the call's own 10 s

  // A daemon that never answers its proof: the proof and the refresh that
  // follows share the caller's budget instead of 2 s each.
  daemon_.hang_proofs();
  size_t calls_before = daemon_.calls().size();
  write_config(daemon_.port(), kT2);  // a refresh would have a new token to try
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client().post_within("/api/inbox", JsonValue::object(), 300ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1800ms);  // not a proof's own 2 s
  EXPECT_EQ(daemon_.calls().size(), calls_before);
}

TEST_F(DaemonClientTest, ManyThreadsAtOnce) {
  client();  // built before the threads share it
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      for (int j = 0; j < 5; ++j)
        if (auto a = client().get("/api/state"); a && a->status == 200) ++ok;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 40);
}

TEST(PostWithinTimeout, CappedAtTenSeconds) {
  EXPECT_EQ(post_within_timeout(1500ms), 1500ms);
  EXPECT_EQ(post_within_timeout(30s), 10s);
  EXPECT_EQ(post_within_timeout(10s + 1ns), 10s);
  EXPECT_EQ(post_within_timeout(10s), 10s);
}

TEST(ConfigToken, ReadsTheFileEachTime) {
  char tmpl[] = "/tmp/mossbank-token-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string home = tmpl;
  auto provider = config_token(home);
  EXPECT_FALSE(provider());
  std::ofstream(home + "/config.json") << "{\"port\":4827,\"token\":\"" << kT1 << "\"}";
  EXPECT_EQ(provider(), std::optional<std::string>(kT1));
  std::ofstream(home + "/config.json") << "{\"port\":4827,\"token\":\"short\"}";
  EXPECT_FALSE(provider());
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace mossbank
