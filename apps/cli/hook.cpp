#include "cli/hook.h"

#define OPENSSL_SUPPRESS_DEPRECATED  // the direct SHA-256 routines skip provider loading
#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <thread>

#include "base/clock.h"
#include "base/files.h"
#include "base/hex.h"
#include "base/json.h"
#include "base/text.h"
#include "base/utf8.h"
#include "daemon/config.h"
#include "daemon/env_names.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"

namespace mossbank::cli {

namespace {

constexpr size_t kStdinLimit = 1u << 20;
constexpr size_t kSpoolLimit = 1u << 20;
constexpr size_t kSpoolPayloadLimit = 256u << 10;
constexpr auto kWaiterRetryEvery = std::chrono::seconds(3);
constexpr auto kWaiterWindow = std::chrono::seconds(120);

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

struct KindRow {
  const char* query_flag;  // nullptr: none
  nanoseconds timeout;
  size_t output_limit;
};

KindRow kind_row(HookKind kind) {
  switch (kind) {
    case HookKind::plain_event:
      return {nullptr, milliseconds(300), 0};
    case HookKind::wait:
    case HookKind::wait_question:
      return {"wait=1", seconds(86390), 64u << 10};
    case HookKind::waiter:
      return {"waiter=1", seconds(86390), 256u << 10};
    case HookKind::handover:
      return {"handover=1", seconds(10), 1u << 20};
    case HookKind::step:
      return {"step=1", seconds(3), 64u << 10};
  }
  return {nullptr, milliseconds(300), 0};
}

bool present(const std::optional<std::string>& v) { return v && !v->empty(); }

bool valid_agent(const std::string& agent) {
  if (agent == "claude") return true;
  if (agent.empty() || agent.size() > 24) return false;
  for (char c : agent) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool valid_event(const std::string& event) {
  if (event.empty() || event.size() > 40) return false;
  for (char c : event) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

bool has_arg(const std::vector<std::string>& args, std::string_view flag) {
  for (const auto& a : args)
    if (a == flag) return true;
  return false;
}

// Lexically absolute: joined to the current directory, "." and ".." resolved
// without touching the file system.
std::string lexically_absolute(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf) != nullptr) full = std::string(buf) + "/" + path;
  }
  bool absolute = !full.empty() && full[0] == '/';
  std::vector<std::string_view> parts;
  std::string_view rest(full);
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out;
}

std::string canonical_dir(const std::string& dir) {
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) != nullptr) return resolved;
  return lexically_absolute(dir);
}

// The header is left out when its value cannot go on the wire: the event
// itself must still reach the daemon (or the spool).
void add_header(HttpHeaders& headers, std::string name, std::string value) {
  if (!header_value_bytes(value)) return;
  headers.emplace_back(std::move(name), std::move(value));
}

// stdin whole; more than 1 MiB or a read error gives the empty text.
std::string read_stdin() {
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "";
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kStdinLimit) return "";
  }
  return utf8_lossy(data);
}

const HttpReply* reply_of(const std::optional<HttpResponse>& response) {
  if (!response) return nullptr;
  return std::get_if<HttpReply>(&*response);
}

bool is_2xx(const HttpReply& r) { return is_success(r.status); }

std::optional<HttpResponse> send_hook_request(const HookDeps& deps, const HookArgs& args) {
  auto request = build_hook_request(args, deps.home, deps.env, deps.user_home);
  if (!request) return std::nullopt;
  HttpRequest http;
  http.timeout = request->timeout;
  http.method = "POST";
  http.path = request->path;
  http.headers = std::move(request->headers);
  http.body = args.payload;
  http.port = request->port;
  return deps.transport(http);
}

void spool_event(const HookDeps& deps, const HookArgs& args) {
  if (args.payload.size() > kSpoolPayloadLimit || village_off(deps.home)) return;
  auto request = build_hook_request(args, deps.home, deps.env, deps.user_home);
  if (!request) return;
  std::string line = spool_line(static_cast<uint64_t>(now_ms()), args.payload, *request) + "\n";
  if (line.size() > kSpoolLimit) return;

  std::string dir = home_path(deps.home, "spool");
  if (!make_directories(dir, 0777)) return;
  int fd =
      open(home_path(dir, "hooks.jsonl").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // Many relays append at once: the lock keeps the size check and the write
  // together, so lines never interleave and the file never passes the limit.
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
  struct stat st;
  size_t size = fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
  if (size + line.size() <= kSpoolLimit) write_all(fd, line);
  close(fd);
}

}  // namespace

uint8_t run_waiter(const HookDeps& deps, const HookArgs& args) {
  std::optional<std::chrono::steady_clock::time_point> first_failure;
  for (;;) {
    auto response = send_hook_request(deps, args);
    if (!response) return 0;
    if (const auto* reply = std::get_if<HttpReply>(&*response)) {
      if (!is_2xx(*reply) || reply->body.size() > kind_row(HookKind::waiter).output_limit) return 0;
      write_all(2, reply->body);
      return reply->body.empty() ? 0 : 2;
    }
    if (std::get<HttpFailure>(*response).timed_out) return 0;
    auto now = deps.now();
    if (!first_failure) first_failure = now;
    if (now - *first_failure > kWaiterWindow || village_off(deps.home)) return 0;
    deps.sleep(kWaiterRetryEvery);
  }
}

ArgAfter arg_after(const std::vector<std::string>& args, std::string_view flag) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != flag) continue;
    ArgAfter found{true, std::nullopt};
    if (i + 1 < args.size()) found.value = args[i + 1];
    return found;
  }
  return {};
}

std::string percent_encode_query(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                std::string_view("-_.!~*'()").find(static_cast<char>(c)) != std::string_view::npos;
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(digits[c >> 4]);
      out.push_back(digits[c & 15]);
    }
  }
  return out;
}

std::string sign_in_tag(const char* dir_var, const char* default_dir,
                        const std::vector<const char*>& key_vars, const EnvLookup& env,
                        const std::string& user_home) {
  auto dir = env(dir_var);
  std::string directory = present(dir) ? *dir : home_path(user_home, default_dir);
  char mark = 's';
  for (const char* var : key_vars) {
    if (present(env(var))) {
      mark = 'k';
      break;
    }
  }
  std::string text = utf8_lossy(canonical_dir(directory));
  if (text.rfind("\\\\?\\UNC\\", 0) == 0)
    text = "\\\\" + text.substr(8);
  else if (text.rfind("\\\\?\\", 0) == 0)
    text = text.substr(4);

  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, text.data(), text.size());
  SHA256_Final(digest, &ctx);
  return hex_lower(digest, 6) + "." + mark;
}

std::optional<HookRequest> build_hook_request(const HookArgs& args, const std::string& home,
                                              const EnvLookup& env, const std::string& user_home) {
  auto config = read_config(home);
  if (!config) return std::nullopt;
  if (js_trim(args.payload).empty()) return std::nullopt;

  std::vector<std::string> parts;
  std::optional<std::string> agent = args.agent;
  if ((!agent || *agent == "claude") && present(env("GROK_HOOK_EVENT")) &&
      present(env("GROK_SESSION_ID")))
    agent = "grok";
  if (agent) {
    parts.push_back("agent=" + percent_encode_query(*agent));
    if (agent != args.agent) parts.emplace_back("via=claude");
  }
  if (args.event && valid_event(*args.event)) parts.push_back("event=" + *args.event);
  if (present(args.decides)) parts.push_back("decides=" + percent_encode_query(*args.decides));
  KindRow row = kind_row(args.kind);
  if (row.query_flag != nullptr) parts.emplace_back(row.query_flag);

  HookRequest request;
  request.path = std::string(kHookPath);
  for (size_t i = 0; i < parts.size(); ++i) {
    request.path += i == 0 ? '?' : '&';
    request.path += parts[i];
  }

  HttpHeaders& h = request.headers;
  h.emplace_back(std::string(kContentTypeHeader), std::string(kJsonContentType));
  add_header(h, std::string(kTokenHeader), config->hook_token.value_or(config->token));
  if (present(args.run_id)) add_header(h, "x-mossbank-run", *args.run_id);
  if (args.pid && *args.pid != 0) h.emplace_back("x-mossbank-pid", std::to_string(*args.pid));
  if (auto entry = env("CLAUDE_CODE_ENTRYPOINT"); present(entry))
    add_header(h, "x-mossbank-entrypoint", *entry);
  if (!agent || *agent == "claude") {
    add_header(h, "x-mossbank-sign-in",
               sign_in_tag(
                   "CLAUDE_CONFIG_DIR", ".claude",
                   {"ANTHROPIC_API_KEY", "ANTHROPIC_AUTH_TOKEN", "CLAUDE_CODE_OAUTH_TOKEN",
                    "CLAUDE_CODE_USE_BEDROCK", "CLAUDE_CODE_USE_VERTEX", "CLAUDE_CODE_USE_FOUNDRY"},
                   env, user_home));
  } else if (*agent == "codex") {
    add_header(
        h, "x-mossbank-sign-in",
        sign_in_tag("CODEX_HOME", ".codex", {"OPENAI_API_KEY", "CODEX_API_KEY"}, env, user_home));
  }
  if (args.agent == "copilot") {
    if (auto v = env("COPILOT_ALLOW_ALL"); present(v))
      add_header(h, "x-mossbank-copilot-allow-all", *v);
    if (auto v = env("COPILOT_HOME"); present(v)) add_header(h, "x-mossbank-copilot-home", *v);
  }
  request.timeout = row.timeout;
  request.port = config->port;
  return request;
}

bool is_forwarded_header(std::string_view name) {
  constexpr std::string_view prefix = "x-mossbank-";
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  for (char c : name.substr(prefix.size())) {
    if (!((c >= 'a' && c <= 'z') || c == '-')) return false;
  }
  return name != kTokenHeader;
}

HttpHeaders forwarded_headers(const HttpHeaders& headers) {
  HttpHeaders out;
  for (const auto& [name, value] : headers)
    if (is_forwarded_header(name)) out.emplace_back(name, value);
  return out;
}

std::string spool_line(uint64_t at_ms, const std::string& body, const HookRequest& request) {
  std::map<std::string, std::string> sorted;
  for (const auto& [name, value] : forwarded_headers(request.headers)) sorted.emplace(name, value);
  JsonValue headers = JsonValue::object();
  for (const auto& [name, value] : sorted) headers[name] = value;
  JsonValue line = JsonValue::object();
  line["at"] = at_ms;
  line["body"] = body;
  line["headers"] = std::move(headers);
  line["path"] = request.path;
  return to_js_json(line);
}

uint8_t hook_main(const std::vector<std::string>& args) {
  HookDeps deps;
  deps.parent_pid = static_cast<uint32_t>(getppid());
  deps.env = utf8_env;
  deps.home = home_dir();
  deps.user_home = user_home();
  deps.transport = send_once;
  deps.sleep = [](nanoseconds d) { std::this_thread::sleep_for(d); };
  deps.now = [] { return std::chrono::steady_clock::now(); };

  ArgAfter agent = arg_after(args, "--agent");
  if (agent.found && !(agent.value && valid_agent(*agent.value))) return 0;

  auto entrypoint = deps.env("CLAUDE_CODE_ENTRYPOINT");
  if (entrypoint && utf16_length(*entrypoint) > 3 && entrypoint->rfind("sdk-", 0) == 0 &&
      (has_arg(args, "--waiter") || has_arg(args, "--handover"))) {
    read_stdin();
    return 0;
  }

  HookKind kind = HookKind::plain_event;
  if (has_arg(args, "--waiter")) {
    kind = HookKind::waiter;
  } else if (has_arg(args, "--handover")) {
    kind = HookKind::handover;
  } else if (has_arg(args, "--step")) {
    kind = HookKind::step;
  } else if (ArgAfter wait = arg_after(args, "--wait"); wait.found) {
    kind = wait.value == "question" ? HookKind::wait_question : HookKind::wait;
  }

  HookArgs hook;
  if (kind == HookKind::plain_event && !args.empty() && !args.back().empty() &&
      args.back()[0] == '{')
    hook.payload = args.back();
  else
    hook.payload = read_stdin();
  hook.pid = deps.parent_pid;
  hook.agent = agent.value;
  hook.kind = kind;
  if (kind != HookKind::waiter) {
    auto run = deps.env(env::kRunId);
    if (present(run)) hook.run_id = run;
    if (kind == HookKind::plain_event)
      hook.event = arg_after(args, "--event").value;
    else
      hook.decides = arg_after(args, "--decides").value;
  }

  switch (kind) {
    case HookKind::plain_event: {
      auto response = send_hook_request(deps, hook);
      if (response) {
        if (const auto* failure = std::get_if<HttpFailure>(&*response); failure && failure->refused)
          spool_event(deps, hook);
      }
      return 0;
    }
    case HookKind::waiter:
      return run_waiter(deps, hook);
    default: {
      auto response = send_hook_request(deps, hook);
      const HttpReply* reply = reply_of(response);
      if (reply && is_2xx(*reply) && reply->body.size() <= kind_row(kind).output_limit)
        write_all(1, reply->body);
      return 0;
    }
  }
}

}  // namespace mossbank::cli
