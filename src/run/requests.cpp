#include "run/requests.h"

namespace mossbank::run {

// The request worker "village's request" goes here: the busy and
// unavailable answers, then the typing, keys, interrupt or restart on a
// thread of its own. Until then requests are dropped unanswered.
void take_village_request(RunShared&, const JsonValue&, std::string_view) {}

}  // namespace mossbank::run
