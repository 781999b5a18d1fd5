#include <sys/stat.h>

#include "run/run.h"
#include "run/run_loop.h"
#include "screen/session_ids.h"

namespace mossbank::run {

namespace {

// A first entry: the program on PATH and one run of the loop.
std::optional<std::string> find_program(const std::string& program, const RunInvocation& inv) {
  auto is_file = [](const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (program.find('/') != std::string::npos) return is_file(program) ? std::optional(program) : std::nullopt;
  std::string path;
  for (const auto& [k, v] : inv.environment)
    if (k == "PATH") {
      path = v;
      break;
    }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty() && is_file(dir + "/" + program)) return dir + "/" + program;
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace

RunOutcome run_main(const std::vector<std::string>& args, RunInvocation invocation) {
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) return RunHelp{};
  RunOptions options;
  options.program = args.empty() ? "claude" : args[0];
  if (!args.empty()) options.args.assign(args.begin() + 1, args.end());
  auto path = find_program(options.program, invocation);
  if (!path) return RunExit{127};
  auto id = screen::new_session_id();
  if (!id) return RunExit{1};
  auto command = RunCommand::start(invocation);
  LoopInput in;
  in.invocation = &invocation;
  in.options = &options;
  in.program_path = *path;
  in.run_id = *id;
  in.agent_args = options.args;
  LoopResult r = command->run_loop(in);
  return RunExit{r.exit_code};
}

}  // namespace mossbank::run
