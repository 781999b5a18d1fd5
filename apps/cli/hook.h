// The hook relay: `mossbank hook ...`, run by the agents' own hook settings
// once per hook event, often several times a second.
//
// It forwards the event to the daemon as POST /api/hook?..., writes the
// daemon's decision back (stdout, or stderr for a waiter) and never prints a
// message of its own. A plain event whose connection is refused is appended
// to spool/hooks.jsonl in the home directory. The exit code is 0, or 2 for a
// waiter that got a non-empty answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "daemon/http_client.h"

namespace mossbank::cli {

enum class HookKind { plain_event, wait, wait_question, waiter, handover, step };

struct HookArgs {
  std::optional<std::string> run_id;
  std::optional<uint32_t> pid;
  std::string payload;
  std::optional<std::string> agent;
  std::optional<std::string> event;
  std::optional<std::string> decides;
  HookKind kind = HookKind::plain_event;
};

using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

struct HookDeps {
  std::optional<uint32_t> parent_pid;
  EnvLookup env;
  std::string home;
  std::string user_home;
  std::function<HttpResponse(const HttpRequest&)> transport;
  std::function<void(std::chrono::nanoseconds)> sleep;
  std::function<std::chrono::steady_clock::time_point()> now;
};

struct HookRequest {
  std::string path;
  HttpHeaders headers;
  std::chrono::nanoseconds timeout{0};
  uint16_t port = 0;
};

// The first argument equal to `flag`: found, and the argument after it.
struct ArgAfter {
  bool found = false;
  std::optional<std::string> value;
};
ArgAfter arg_after(const std::vector<std::string>& args, std::string_view flag);

std::string percent_encode_query(std::string_view text);

// The sign-in tag: 12 hex digits of SHA-256 over the sign-in directory's
// canonical path, ".", and "k" (an API key variable is set) or "s".
std::string sign_in_tag(const char* dir_var, const char* default_dir,
                        const std::vector<const char*>& key_vars, const EnvLookup& env,
                        const std::string& user_home);

std::optional<HookRequest> build_hook_request(const HookArgs& args, const std::string& home,
                                              const EnvLookup& env, const std::string& user_home);

bool is_forwarded_header(std::string_view name);
HttpHeaders forwarded_headers(const HttpHeaders& headers);

// The spool line (without its line feed) for a refused plain event.
std::string spool_line(uint64_t at_ms, const std::string& body, const HookRequest& request);

// A waiter: sends, and after a failure that is not a time-out retries every
// 3 s for up to 120 s from the first one while the village is not off. A 2xx
// answer of at most 256 KiB goes to stderr; exit 2 when it is not empty.
uint8_t run_waiter(const HookDeps& deps, const HookArgs& args);

// Runs the relay with the arguments after "hook"; returns the exit code.
uint8_t hook_main(const std::vector<std::string>& args);

}  // namespace mossbank::cli
