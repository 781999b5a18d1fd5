#include "daemon/proof.h"

namespace mossbank {

std::optional<std::string> random_nonce_hex() { return std::nullopt; }
std::string proof_hmac_hex(std::string_view, uint16_t, std::string_view) { return {}; }
bool proof_matches(std::string_view, std::string_view, uint16_t, std::string_view) { return false; }
bool daemon_proves_itself(uint16_t, const std::string&) { return false; }

}  // namespace mossbank
