// The run command's entry: options, vocation, the agent's program, running
// it by itself or preparing the village, then the run loop once per start
// of the agent (restarts included).
#include <unistd.h>

#include <chrono>
#include <variant>

#include "daemon/config.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "run/start/codex_probe.h"
#include "run/start/direct.h"
#include "run/start/environment.h"
#include "run/start/messages.h"
#include "run/start/options.h"
#include "run/start/restart_loop.h"
#include "run/run.h"
#include "run/session/run_loop.h"
#include "run/start/village_check.h"
#include "run/start/vocations.h"
#include "screen/agent_profiles.h"
#include "screen/agents.h"

namespace mossbank::run {

namespace {

constexpr std::chrono::seconds kHealthTimeout{1};

std::variant<DaemonConfig, RunExit> config_or_exit(const RunInvocation& invocation) {
  const bool home_given = env_var(invocation.environment, "MOSSBANK_HOME").has_value();
  Result<DaemonConfig> config = ensure_config(invocation.home_dir, home_given);
  if (!config) {
    eprint(couldnt_create_config(home_path(invocation.home_dir, "config.json"), config.status()));
    return RunExit{1};
  }
  return std::move(*config);
}

// The reason an automatic run has to run the agent by itself, if any.
std::variant<std::monostate, std::string_view, RunExit> automatic_reason(
    const RunInvocation& invocation, const std::string& program_path, const RunOptions& options) {
  if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1)
    return std::string_view("no-terminal");
  if (!screen::is_interactive_session(launch_argv(program_path, options.args))) {
    return std::string_view("no-session");
  }
  std::variant<DaemonConfig, RunExit> config = config_or_exit(invocation);
  if (auto* exit = std::get_if<RunExit>(&config)) return *exit;
  if (!daemon_get(std::get<DaemonConfig>(config).port, kHealthPath, kHealthTimeout)) {
    return std::string_view("no-village");
  }
  return std::monostate{};
}

}  // namespace

RunOutcome run_main(const std::vector<std::string>& args, RunInvocation invocation) {
  OptionScan scan = scan_options(args);
  if (std::holds_alternative<RunHelp>(scan)) return RunHelp{};
  if (auto* error = std::get_if<Status>(&scan)) return *error;
  const RunOptions options = std::get<RunOptions>(std::move(scan));
  const EnvPairs& env = invocation.environment;

  std::optional<std::string> prompt;
  if (options.vocation_id) {
    Result<Vocation> found = resolve_vocation(invocation.home_dir, *options.vocation_id);
    if (!found) return failure(EINVAL, found.status().text);
    if (Status kept = keep_builtin_vocations(invocation.home_dir); !kept) {
      eprint(couldnt_write_vocations(vocations_folder(invocation.home_dir), kept));
      return RunExit{1};
    }
    prompt = vocation_prompt(*found);
  }

  std::optional<std::string> program_path =
      find_program(options.program, env_var(env, "PATH").value_or(""));
  if (!program_path) {
    eprint(cant_find_program(options.program));
    return RunExit{127};
  }
  auto by_itself = [&](std::string_view why) -> RunOutcome {
    note_runs_by_itself(env, why);
    return RunExit{run_agent_directly(
        *program_path, agent_args(options.program, options.args, prompt), invocation)};
  };

  if (village_off(invocation.home_dir)) {
    if (setup_daemon_pid(env)) {
      eprint(kInstallNeedsVillage);
      return RunExit{1};
    }
    return by_itself("village-off");
  }

  const bool automatic = env_is_one(env, "MOSSBANK_AUTO_RUN");
  if (automatic) {
    auto reason = automatic_reason(invocation, *program_path, options);
    if (auto* exit = std::get_if<RunExit>(&reason)) return *exit;
    if (auto* why = std::get_if<std::string_view>(&reason)) return by_itself(*why);
  }

  const EnvPairs agent_env = run_env_without_own(env, false);
  std::vector<std::string> agent_arguments = options.args;
  const screen::AgentProfile* agent =
      screen::agent_profile(screen::agent_name_of_program(options.program));
  if (agent != nullptr && agent->probe_before_run && codex_probe_wanted(*agent, agent_arguments)) {
    ProbeCommand probe;
    probe.program_path = *program_path;
    probe.envp = env_entries(agent_env);
    probe.cwd = invocation.current_dir;
    agent_arguments = codex_args_after_probe(probe, std::move(agent_arguments));
  }

  std::variant<DaemonConfig, RunExit> config = config_or_exit(invocation);
  if (auto* exit = std::get_if<RunExit>(&config)) return *exit;
  if (setup_daemon_pid(env)) {
    if (!daemon_get(std::get<DaemonConfig>(config).port, kHealthPath, kHealthTimeout)) {
      eprint(kInstallVillageGone);
      return RunExit{1};
    }
  } else {
    ensure_village(invocation.home_dir, invocation.version, invocation.start_app);
  }

  std::optional<std::string> run_id = choose_run_id(env);
  if (!run_id) {
    eprint(kNoRandomForRunId);
    return RunExit{1};
  }

  LoopInput input;
  input.invocation = &invocation;
  input.options = &options;
  input.program_path = *program_path;
  input.run_id = *run_id;
  input.vocation_prompt = prompt;
  input.agent_args = std::move(agent_arguments);
  input.first_run = true;
  input.automatic = automatic;
  std::unique_ptr<RunCommand> command = RunCommand::start(invocation);
  return restart_loop(*command, invocation, options, std::move(input));
}

}  // namespace mossbank::run
