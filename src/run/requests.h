// The village's requests that need a written answer (`talk`, `keys`,
// `interrupt`, `restart`): taken from the link's thread and answered on the
// run's posts.
#pragma once

#include <string_view>

#include "base/json.h"
#include "run/run_shared.h"

namespace mossbank::run {

// Takes a request whose fields the command handling has checked so far;
// `type` is its `type` text.
void take_village_request(RunShared& run, const JsonValue& command, std::string_view type);

}  // namespace mossbank::run
