#include "daemon/proof.h"

#include <functional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "daemon/test_loopback_server.h"

namespace mossbank {
namespace {

using daemon::testing::LoopbackServer;
using daemon::testing::ServerConnection;

constexpr const char* kNonce = "00112233445566778899aabbccddeeff";

// Expected proofs from node's crypto.createHmac("sha256", token).
TEST(ProofHmac, KnownValues) {
  struct Case {
    std::string token;
    uint16_t port;
    const char* proof;
  };
  const Case cases[] = {
      {"0123456789abcdef", 4827,
       "46d487d8d3ee23719715747ca0a5040442898947a30fc9510ec3c397f4442cbf"},
      // 64 bytes: the key as it is.
      {std::string(64, 'k'), 4827,
       "a5ba8bed6ca91e5cff9b3f4b2b77870312e97ca385c60bc749e9e458ffdcc22c"},
      // 65 bytes: the key's SHA-256 digest is the key.
      {std::string(65, 'k'), 4827,
       "788f599501d018dc6651011ae2722658b751c6d78bb999f9b0567353d7b209ea"},
      {std::string(65, 'k'), 1, "3641a8d9e570ed647a54946de8822db8e9f5ab5e205f5d087bcd6b3a0c7ff26e"},
      {"tok\xc3\xa9n-0123456789ab", 4827,
       "086a8e0d24177f9be34adb53da87d085f8490e6a90791265f767bcf5a36b27e7"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(proof_hmac_hex(c.token, c.port, kNonce), c.proof) << c.token;
}

TEST(ProofMatches, ExactLowerCaseOnly) {
  const std::string token = "0123456789abcdef";
  const std::string good = proof_hmac_hex(token, 4827, kNonce);
  std::string upper = good;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string last_differs = good;
  last_differs.back() = last_differs.back() == '0' ? '1' : '0';

  EXPECT_TRUE(proof_matches(good, token, 4827, kNonce));
  EXPECT_FALSE(proof_matches(upper, token, 4827, kNonce));
  EXPECT_FALSE(proof_matches(last_differs, token, 4827, kNonce));
  EXPECT_FALSE(proof_matches(good.substr(0, 63), token, 4827, kNonce));
  EXPECT_FALSE(proof_matches(good + "0", token, 4827, kNonce));
  EXPECT_FALSE(proof_matches("", token, 4827, kNonce));
  EXPECT_FALSE(proof_matches(good, token, 4828, kNonce));
}

TEST(RandomNonce, FreshLowerCaseHex) {
  auto a = random_nonce_hex();
  auto b = random_nonce_hex();
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(std::regex_match(*a, std::regex("[0-9a-f]{32}")));
  EXPECT_NE(*a, *b);
}

// A health endpoint that answers with whatever `answer` makes of the nonce.
struct HealthServer {
  using Answer = std::function<std::string(const std::string& nonce, uint16_t port)>;
  explicit HealthServer(Answer a)
      : answer(std::move(a)), server([this](ServerConnection& conn, const std::string& request) {
          std::string path = daemon::testing::request_path(request);
          std::string nonce = path.substr(path.find('=') + 1);
          conn.write(answer(nonce, server.port()));
        }) {}
  Answer answer;
  LoopbackServer server;
};

std::string http(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\ncontent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(DaemonProvesItself, OnlyTheProofCounts) {
  const std::string token = "0123456789abcdef-token";
  struct Case {
    const char* name;
    HealthServer::Answer answer;
    bool proves;
  };
  auto proof_json = [&](int status, bool upper, int port_shift) -> HealthServer::Answer {
    return [=](const std::string& nonce, uint16_t port) {
      std::string p = proof_hmac_hex(token, static_cast<uint16_t>(port + port_shift), nonce);
      if (upper)
        for (char& c : p) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return http(status, "{\"app\":\"mossbank\",\"proof\":\"" + p + "\"}");
    };
  };
  const Case cases[] = {
      {"200 with the proof", proof_json(200, false, 0), true},
      {"503 with the proof", proof_json(503, false, 0), true},
      {"404 with the proof", proof_json(404, false, 0), true},
      {"proof in upper case", proof_json(200, true, 0), false},
      {"proof for another port", proof_json(200, false, 1), false},
      {"not JSON", [](const std::string&, uint16_t) { return http(200, "proof"); }, false},
      {"no proof", [](const std::string&, uint16_t) { return http(200, "{\"ok\":true}"); }, false},
      {"proof not a string",
       [](const std::string&, uint16_t) { return http(200, "{\"proof\":12}"); }, false},
      {"an array", [](const std::string&, uint16_t) { return http(200, "[\"proof\"]"); }, false},
      {"empty proof", [](const std::string&, uint16_t) { return http(200, "{\"proof\":\"\"}"); },
       false},
      {"not HTTP", [](const std::string&, uint16_t) { return std::string("SSH-2.0\r\n\r\n"); },
       false},
  };
  for (const Case& c : cases) {
    HealthServer health(c.answer);
    EXPECT_EQ(daemon_proves_itself(health.server.port(), token), c.proves) << c.name;
  }
}

TEST(DaemonProvesItself, RequestAndRefusals) {
  const std::string token = "0123456789abcdef";
  HealthServer health([&](const std::string& nonce, uint16_t port) {
    return http(200, "{\"proof\":\"" + proof_hmac_hex(token, port, nonce) + "\"}");
  });
  const uint16_t port = health.server.port();
  ASSERT_TRUE(daemon_proves_itself(port, token));
  ASSERT_TRUE(daemon_proves_itself(port, token));
  auto requests = health.server.requests();
  ASSERT_EQ(requests.size(), 2u);
  std::regex head("GET /api/health\\?nonce=([0-9a-f]{32}) HTTP/1\\.1\r\nhost: 127\\.0\\.0\\.1:" +
                  std::to_string(port) + "\r\nconnection: close\r\naccept: \\*/\\*\r\n\r\n");
  std::smatch first, second;
  ASSERT_TRUE(std::regex_match(requests[0].bytes, first, head)) << requests[0].bytes;
  ASSERT_TRUE(std::regex_match(requests[1].bytes, second, head)) << requests[1].bytes;
  EXPECT_NE(first[1].str(), second[1].str());

  // Nothing is sent without a token or without a nonce.
  EXPECT_FALSE(daemon_proves_itself(port, ""));
  EXPECT_FALSE(daemon_proves_itself_with(port, token, std::nullopt));
  EXPECT_FALSE(daemon_proves_itself_with(port, token, std::string()));
  EXPECT_EQ(health.server.connections(), 2);

  EXPECT_TRUE(daemon_proves_itself_with(port, token, std::string(kNonce)));
  EXPECT_FALSE(daemon_proves_itself(daemon::testing::closed_port(), token));
}

}  // namespace
}  // namespace mossbank
