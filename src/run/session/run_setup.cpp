#include "run/session/run_setup.h"

#include <string_view>

#include "daemon/daemon_api.h"
#include "run/start/environment.h"
#include "screen/agent_profiles.h"

namespace mossbank::run {

namespace {

std::optional<uint16_t> side(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  unsigned v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  return static_cast<uint16_t>(v);
}

}  // namespace

std::pair<uint16_t, uint16_t> parse_run_size(const std::optional<std::string>& text) {
  constexpr std::pair<uint16_t, uint16_t> kDefault{80, 24};
  if (!text) return kDefault;
  size_t x = text->find('x');
  if (x == std::string::npos) return kDefault;
  auto cols = side(std::string_view(*text).substr(0, x));
  auto rows = side(std::string_view(*text).substr(x + 1));
  if (!cols || !rows || *cols < 2 || *rows < 2) return kDefault;
  return {*cols, *rows};
}

EnvPairs agent_environment_pairs(const EnvPairs& pairs, const std::string& run_id) {
  const bool panel_shell = env_var(pairs, "MOSSBANK_RUN_PANEL_SHELL") == "1";
  EnvPairs out = run_env_without_own(pairs, !panel_shell);
  if (!panel_shell) out.emplace_back("MOSSBANK_RUN_ID", run_id);
  if (!env_var(out, "TERM")) out.emplace_back("TERM", "xterm-256color");
  return out;
}

JsonValue build_registration(const RegistrationInput& in) {
  const EnvPairs& env = in.invocation->environment;
  const auto run_as = env_var(env, "MOSSBANK_RUN_AS");
  const auto host = run_host(env);
  const bool interactive = in.stdout_terminal && (!run_as || run_as->empty());

  JsonValue r = JsonValue::object();
  r["runId"] = in.run_id;
  r["command"] = in.command;
  r["cwd"] = in.invocation->current_dir;
  r["pid"] = in.invocation->pid;
  r["villageOwned"] =
      env_var(env, "MOSSBANK_VILLAGE_TERMINAL") == "1" || run_as == in.run_id || host == in.run_id;
  r["wrapperVersion"] = in.invocation->version;
  r["wrapperApi"] = kApiLevel;
  r["input"] = true;
  r["interrupt"] = true;
  if (in.child_pid) r["childPid"] = *in.child_pid;
  if (env_var(env, "MOSSBANK_RUN_PANEL_SHELL") == "1") r["panelShell"] = true;
  if (in.restartable) {
    r["restart"] = true;
    r["upgrade"] = true;
  }
  if (const screen::AgentProfile* agent = screen::agent_profile(in.agent); agent && agent->receipts)
    r["receipts"] = true;
  r["binding"] = true;
  r["stream"] = true;
  if (!in.stdout_terminal) r["resize"] = true;
  r["startedAt"] = in.invocation->started_at_ms;
  r["lines"] = true;
  if (host || interactive) r["resizable"] = true;
  if (in.vocation_id && !in.vocation_id->empty()) r["vocationId"] = *in.vocation_id;
  if (in.session_id) r["sessionId"] = *in.session_id;
  return r;
}

}  // namespace mossbank::run
