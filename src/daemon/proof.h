// The daemon's proof that it is the village's own: the tool sends a fresh
// nonce to /api/health and the daemon must answer with a JSON object whose
// "proof" is HMAC-SHA256, keyed by the token of config.json, over
// "mossbank daemon proof v1\n<port>\n<nonce>", in lower-case hexadecimal.
//
// daemon_proves_itself never fails loudly: an empty token, a random source
// that fails (no request is sent then), a transport failure, a body that is
// not JSON or has no string "proof", or a proof that differs all give false.
// The answer's status is not looked at. Proofs are compared without stopping
// at the first differing byte.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mossbank {

// 16 random bytes as 32 lower-case hexadecimal digits; none when the random
// source fails.
std::optional<std::string> random_nonce_hex();

// The proof the daemon must give for this token, port and nonce.
std::string proof_hmac_hex(std::string_view token, uint16_t port, std::string_view nonce);

// True when `proof` equals proof_hmac_hex(token, port, nonce): same length,
// not empty, every byte compared.
bool proof_matches(std::string_view proof, std::string_view token, uint16_t port,
                   std::string_view nonce);

// How long the health probe may take at most.
inline constexpr std::chrono::seconds kProofTimeout{2};

// GET /api/health?nonce=<nonce> on a fresh connection, no token header, with
// a fresh random_nonce_hex(), within kProofTimeout or the shorter `timeout`
// that a caller's own deadline leaves.
bool daemon_proves_itself(uint16_t port, const std::string& token,
                          std::chrono::nanoseconds timeout = kProofTimeout);

// The same with a given nonce; none or empty (the random source failed)
// gives false without sending anything.
bool daemon_proves_itself_with(uint16_t port, const std::string& token,
                               const std::optional<std::string>& nonce,
                               std::chrono::nanoseconds timeout = kProofTimeout);

}  // namespace mossbank
