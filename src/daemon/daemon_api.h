// What the tool fixes about the village daemon's HTTP interface: the paths
// it calls and the headers it sends. Bodies and the reading of answers
// belong to the callers.
#pragma once

#include <string>
#include <string_view>

namespace mossbank {

inline constexpr std::string_view kTokenHeader = "x-mossbank-token";
inline constexpr std::string_view kContentTypeHeader = "content-type";
inline constexpr std::string_view kJsonContentType = "application/json";

inline constexpr std::string_view kHealthPath = "/api/health";
inline constexpr std::string_view kHealthHooksPath = "/api/health?hooks=1";
inline constexpr std::string_view kHookPath = "/api/hook";
inline constexpr std::string_view kRunsPath = "/api/runs";
inline constexpr std::string_view kStatePath = "/api/state";
inline constexpr std::string_view kInboxPath = "/api/inbox";
inline constexpr std::string_view kTalkToolPath = "/api/residents/talk-tool";

// The level of the daemon's interface this tool speaks: what the run
// registers as its own, and the lowest a village it links to may offer.
inline constexpr int kApiLevel = 211;

// An answer the daemon took: 2xx.
constexpr bool is_success(int status) { return status >= 200 && status <= 299; }

// Statuses the tool acts on beyond 2xx.
inline constexpr int kStatusUnauthorized = 401;
inline constexpr int kStatusNotFound = 404;
inline constexpr int kStatusInboxBusy = 429;

// "/api/health?nonce=<nonce>"
std::string health_nonce_path(std::string_view nonce);

// "/api/runs/<run_id>" followed by `suffix` ("", "/commands", "/screen", ...).
std::string run_path(std::string_view run_id, std::string_view suffix = {});

}  // namespace mossbank
