// Placeholder until the keys, interrupt and restart requests are built in
// this file: each is answered at once and nothing is pressed.
#include "run/requests.h"

namespace mossbank::run {

std::string serve_keys_request(RunShared&, const VillageRequest&) {
  return std::string(outcome::kFailed);
}

std::string serve_interrupt_request(RunShared&, const VillageRequest&) {
  return std::string(outcome::kFailed);
}

std::string serve_restart_request(RunShared&, const VillageRequest&) {
  return std::string(outcome::kUnavailable);
}

}  // namespace mossbank::run
