#include "cli/cli.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/utf8.h"
#include "base/version.h"
#include "cli/hook.h"
#include "cli/node_cli.h"
#include "cli/usage.h"
#include "daemon/env_names.h"
#include "daemon/home.h"
#include "mcp/mcp.h"
#include "run/run.h"

extern char** environ;

namespace mossbank::cli {

namespace {

std::vector<std::pair<std::string, std::string>> environment_pairs() {
  std::vector<std::pair<std::string, std::string>> out;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    out.emplace_back(utf8_lossy(entry.substr(0, eq)), utf8_lossy(entry.substr(eq + 1)));
  }
  return out;
}

std::string current_dir() {
  std::vector<char> buf(4096);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) return utf8_lossy(buf.data());
    if (errno != ERANGE) return "";
    buf.resize(buf.size() * 2);
  }
}

void write_stderr(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }

uint8_t run_command(const std::vector<std::string>& rest) {
  run::RunInvocation inv;
  inv.environment = environment_pairs();
  inv.current_dir = current_dir();
  inv.home_dir = home_dir();
  inv.version = kVersion;
  inv.start_app = std::make_shared<std::function<bool()>>(start_app);
  inv.started_at_ms = static_cast<uint64_t>(now_ms());
  inv.pid = static_cast<uint32_t>(getpid());
  run::RunOutcome outcome = run::run_main(rest, std::move(inv));
  if (std::holds_alternative<run::RunHelp>(outcome)) {
    print_usage("run");
    return 0;
  }
  if (auto* err = std::get_if<Status>(&outcome)) {
    write_stderr(err->text + "\n" + usage_text("run") + "\n");
    return 2;
  }
  return std::get<run::RunExit>(outcome).code;
}

}  // namespace

uint8_t cli_main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8_lossy(argv[i]));
  if (!args.empty()) {
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-v" || command == "--version") {
      std::printf("%s\n", kVersion);
      return 0;
    }
    if (command == "mcp") {
      if (help_requested("mcp", rest)) return 0;
      mcp::CallIdentity identity;
      const char* run_id = std::getenv(env::kRunId);
      if (run_id != nullptr && *run_id != '\0') identity.run_id = utf8_lossy(run_id);
      if (pid_t parent = getppid(); parent > 1) identity.parent_pid = static_cast<uint32_t>(parent);
      identity.language = ui_language();
      mcp::serve_mcp(
          mcp::make_server_context(kVersion, std::move(identity), make_daemon_client(home_dir())),
          std::make_shared<mcp::MessageWriter>());
      return 0;
    }
    if (command == "run") return run_command(rest);
    if (command == "hook") {
      if (help_requested("hook", rest)) return 0;
      return hook_main(rest);
    }
  }
  run_node_cli(args);
  return 2;
}

}  // namespace mossbank::cli
