#include "daemon/daemon_api.h"

namespace mossbank {

std::string health_nonce_path(std::string_view nonce) {
  std::string out(kHealthPath);
  out += "?nonce=";
  out += nonce;
  return out;
}

std::string run_path(std::string_view run_id, std::string_view suffix) {
  std::string out(kRunsPath);
  out += '/';
  out += run_id;
  out += suffix;
  return out;
}

}  // namespace mossbank
