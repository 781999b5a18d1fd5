#include "run/start/village_check.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "daemon/config.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "daemon/http_client.h"
#include "daemon/proof.h"
#include "run/start/messages.h"

namespace mossbank::run {

namespace {

constexpr double kLowestApi = kApiLevel;
constexpr std::chrono::milliseconds kHealthTimeout{500};
constexpr std::chrono::seconds kHooksPingTimeout{6};

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Numeric identifiers compare as numbers of any length: fewer digits (after
// leading zeros) is lower, then digit by digit.
int compare_numeric(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a[0] == '0') a.remove_prefix(1);
  while (b.size() > 1 && b[0] == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

int compare_identifier(std::string_view a, std::string_view b) {
  const bool na = all_digits(a), nb = all_digits(b);
  if (na && nb) return compare_numeric(a, b);
  if (na != nb) return na ? -1 : 1;
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// The answer of the thread that starts the application; the thread keeps
// its own reference, so a late answer after the wait ended goes nowhere.
struct StartAnswer {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<bool> started;
};

}  // namespace

bool daemon_get(uint16_t port, std::string_view path, std::chrono::seconds timeout) {
  HttpRequest request;
  request.timeout = timeout;
  request.method = "GET";
  request.path = std::string(path);
  request.port = port;
  HttpResponse response = send_once(request);
  const HttpReply* reply = std::get_if<HttpReply>(&response);
  return reply != nullptr && is_success(reply->status);
}

bool semver_lower(const SemVer& a, const SemVer& b) {
  if (a.major != b.major) return a.major < b.major;
  if (a.minor != b.minor) return a.minor < b.minor;
  if (a.patch != b.patch) return a.patch < b.patch;
  if (a.pre_release.empty() || b.pre_release.empty()) {
    return !a.pre_release.empty() && b.pre_release.empty();
  }
  const size_t shared = std::min(a.pre_release.size(), b.pre_release.size());
  for (size_t i = 0; i < shared; ++i) {
    if (int c = compare_identifier(a.pre_release[i], b.pre_release[i]); c != 0) return c < 0;
  }
  return a.pre_release.size() < b.pre_release.size();
}

bool health_is_good(std::string_view body, const std::string& token, uint16_t port,
                    std::string_view nonce, std::string_view own_version) {
  std::optional<JsonValue> answer = parse_json(body);
  if (!answer || !answer->is_object()) return false;
  const JsonValue* app = json_member(*answer, "app");
  if (app == nullptr || !app->is_string() || app->get_ref<const std::string&>() != "mossbank") {
    return false;
  }
  const JsonValue* proof = json_member(*answer, "proof");
  if (token.empty() || proof == nullptr || !proof->is_string() ||
      !proof_matches(proof->get_ref<const std::string&>(), token, port, nonce)) {
    return false;
  }
  const JsonValue* api = json_member(*answer, "api");
  const double api_level = api != nullptr && api->is_number() ? api->get<double>() : 1;
  if (!(api_level >= kLowestApi)) return false;
  const JsonValue* version = json_member(*answer, "version");
  const std::string theirs =
      version != nullptr && version->is_string() ? version->get<std::string>() : "0.0.0";
  std::optional<SemVer> their_version = parse_semver(theirs);
  std::optional<SemVer> our_version = parse_semver(own_version);
  if (their_version && our_version && semver_lower(*their_version, *our_version)) return false;
  return true;
}

void check_village(const VillageCheck& check) {
  if (!check.healthy()) {
    auto answer = std::make_shared<StartAnswer>();
    std::thread([answer, start = check.start_app] {
      bool started = start && *start && (*start)();
      std::lock_guard<std::mutex> hold(answer->mutex);
      answer->started = started;
      answer->changed.notify_all();
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + check.start_wait;
    std::optional<bool> started;
    {
      std::unique_lock<std::mutex> hold(answer->mutex);
      answer->changed.wait_until(hold, deadline, [&] { return answer->started.has_value(); });
      started = answer->started;
    }
    if (!started) {
      check.say(village_slow_to_start(check.log_path));
    } else if (!*started) {
      check.say(village_didnt_start(check.log_path));
    }
  }
  check.ping_hooks();
}

void ensure_village(const std::string& home, std::string_view own_version,
                    std::shared_ptr<std::function<bool()>> start_app) {
  VillageCheck check;
  check.healthy = [&home, own_version] {
    std::optional<DaemonConfig> config = read_config(home);
    if (!config) return false;
    std::optional<std::string> nonce = random_nonce_hex();
    if (!nonce) return false;
    HttpRequest request;
    request.timeout = kHealthTimeout;
    request.method = "GET";
    request.path = health_nonce_path(*nonce);
    request.port = config->port;
    HttpResponse response = send_once(request);
    const HttpReply* reply = std::get_if<HttpReply>(&response);
    return reply != nullptr &&
           health_is_good(reply->body, config->token, config->port, *nonce, own_version);
  };
  check.start_app = std::move(start_app);
  check.ping_hooks = [&home] {
    if (std::optional<DaemonConfig> config = read_config(home)) {
      daemon_get(config->port, kHealthHooksPath, kHooksPingTimeout);
    }
  };
  check.say = [](std::string_view text) { eprint(text); };
  check.log_path = home_path(home, "daemon.log");
  check_village(check);
}

}  // namespace mossbank::run
