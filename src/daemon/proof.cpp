#include "daemon/proof.h"

#include <algorithm>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>

#include "base/json.h"
#include "base/random.h"
#include "daemon/config.h"
#include "daemon/daemon_api.h"
#include "daemon/http_client.h"

namespace mossbank {

namespace {}

std::optional<std::string> random_nonce_hex() { return random_hex(16); }

std::string proof_hmac_hex(std::string_view token, uint16_t port, std::string_view nonce) {
  std::string message = "mossbank daemon proof v1\n";
  message += std::to_string(port);
  message += '\n';
  message += nonce;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static const unsigned char kNoKey = 0;
  const void* key = token.empty() ? &kNoKey : static_cast<const void*>(token.data());
  if (HMAC(EVP_sha256(), key, static_cast<int>(token.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest,
           &length) == nullptr)
    return {};
  return hex_lower(digest, length);
}

bool proof_matches(std::string_view proof, std::string_view token, uint16_t port,
                   std::string_view nonce) {
  std::string expected = proof_hmac_hex(token, port, nonce);
  if (proof.empty() || expected.empty() || proof.size() != expected.size()) return false;
  // Every byte is looked at, so the time taken tells nothing about the proof.
  return CRYPTO_memcmp(proof.data(), expected.data(), expected.size()) == 0;
}

bool daemon_proves_itself(uint16_t port, const std::string& token,
                          std::chrono::nanoseconds timeout) {
  if (token.empty()) return false;
  return daemon_proves_itself_with(port, token, random_nonce_hex(), timeout);
}

bool daemon_proves_itself_with(uint16_t port, const std::string& token,
                               const std::optional<std::string>& nonce,
                               std::chrono::nanoseconds timeout) {
  if (token.empty()) return false;
  // Without a fresh nonce an old answer could be replayed: ask nothing.
  if (!nonce || nonce->empty()) return false;
  HttpRequest request;
  request.timeout = std::min<std::chrono::nanoseconds>(timeout, kProofTimeout);
  if (request.timeout <= std::chrono::nanoseconds::zero()) return false;
  request.method = "GET";
  request.path = health_nonce_path(*nonce);
  request.port = port;
  HttpResponse response = send_once(request);
  const auto* reply = std::get_if<HttpReply>(&response);
  if (reply == nullptr) return false;
  auto body = parse_json(reply->body);
  if (!body) return false;
  const JsonValue* proof = json_member(*body, "proof");
  if (proof == nullptr || !proof->is_string()) return false;
  return proof_matches(proof->get_ref<const std::string&>(), token, port, *nonce);
}

}  // namespace mossbank
