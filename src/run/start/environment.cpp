#include "run/start/environment.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "base/numbers.h"
#include "base/text.h"

namespace mossbank::run {

namespace {

constexpr std::array<std::string_view, 11> kOwnVariables = {
    "MOSSBANK_VILLAGE_TERMINAL", "ELECTRON_RUN_AS_NODE",   "MOSSBANK_RUST_HANDOVER",
    "MOSSBANK_AUTO_RUN",         "MOSSBANK_RUN_AS",        "MOSSBANK_RUN_UPGRADE_ID",
    "MOSSBANK_RUN_PANEL_SHELL",  "MOSSBANK_RUN_HOST",      "MOSSBANK_RUN_SIZE",
    "MOSSBANK_RUN_SETUP",        "MOSSBANK_RUN_DAEMON_PID"};

constexpr std::array<std::string_view, 4> kHandoverVariables = {
    "ELECTRON_RUN_AS_NODE", "MOSSBANK_RUST_HANDOVER", "MOSSBANK_AUTO_RUN",
    "MOSSBANK_RUN_UPGRADE_ID"};

template <typename Names>
EnvPairs without(const EnvPairs& env, const Names& names, std::string_view also = {}) {
  EnvPairs out;
  out.reserve(env.size());
  for (const auto& pair : env) {
    if (listed(names, pair.first) || (!also.empty() && pair.first == also)) continue;
    out.push_back(pair);
  }
  return out;
}

// A decimal 32-bit signed integer: an optional sign, then digits only.
std::optional<int32_t> parse_i32(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::optional<uint64_t> digits = parse_decimal(text, uint64_t{INT32_MAX} + 1);
  if (!digits) return std::nullopt;
  int64_t value = static_cast<int64_t>(*digits);
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool is_host_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

std::optional<std::string> env_var(const EnvPairs& env, std::string_view name) {
  for (const auto& [key, value] : env) {
    if (key == name) return value;
  }
  return std::nullopt;
}

bool env_is_one(const EnvPairs& env, std::string_view name) {
  std::optional<std::string> value = env_var(env, name);
  return value && *value == "1";
}

std::optional<int32_t> setup_daemon_pid(const EnvPairs& env) {
  if (!env_is_one(env, "MOSSBANK_RUN_SETUP")) return std::nullopt;
  std::optional<std::string> text = env_var(env, "MOSSBANK_RUN_DAEMON_PID");
  if (!text) return std::nullopt;
  std::optional<int32_t> pid = parse_i32(*text);
  if (!pid || *pid <= 1) return std::nullopt;
  return pid;
}

std::optional<std::string> run_host(const EnvPairs& env) {
  std::optional<std::string> host = env_var(env, "MOSSBANK_RUN_HOST");
  if (!host || host->size() < 8 || host->size() > 64) return std::nullopt;
  for (char c : *host) {
    if (!is_host_byte(c)) return std::nullopt;
  }
  return host;
}

bool is_interactive(const EnvPairs& env) {
  std::optional<std::string> as = env_var(env, "MOSSBANK_RUN_AS");
  return isatty(STDOUT_FILENO) == 1 && (!as || as->empty());
}

bool pid_gone(int32_t pid) {
  if (pid == 0) return false;
  return kill(pid, 0) != 0 && errno == ESRCH;
}

EnvPairs run_env_without_own(const EnvPairs& env, bool drop_run_id) {
  return without(env, kOwnVariables, drop_run_id ? std::string_view("MOSSBANK_RUN_ID") : "");
}

EnvPairs env_without_handover(const EnvPairs& env) { return without(env, kHandoverVariables); }

std::vector<std::string> env_entries(const EnvPairs& env) {
  std::vector<std::string> out;
  out.reserve(env.size());
  for (const auto& [key, value] : env) out.push_back(key + "=" + value);
  return out;
}

std::optional<std::string> choose_run_id(const EnvPairs& env, screen::FillRandom fill) {
  if (std::optional<std::string> host = run_host(env)) return host;
  for (std::string_view name : {"MOSSBANK_RUN_AS", "MOSSBANK_RUN_UPGRADE_ID"}) {
    std::optional<std::string> value = env_var(env, name);
    if (std::optional<std::string> id = screen::parse_session_id(value)) return id;
  }
  return screen::new_session_id(fill);
}

}  // namespace mossbank::run
