#include "run/start/options.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/text.h"
#include "run/start/messages.h"
#include "screen/agent_profiles.h"

namespace mossbank::run {

namespace {

bool is_help(std::string_view arg) { return arg == "-h" || arg == "--help"; }

// The last component less everything from its last ".".
std::string_view program_stem_of(std::string_view program) {
  std::string_view name = last_path_component(program);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

OptionScan scan_options(std::span<const std::string> args) {
  RunOptions options;
  options.program = "claude";
  size_t k = 0;
  bool have_program = false;
  while (k < args.size()) {
    const std::string& arg = args[k];
    if (arg.empty() || arg[0] != '-') {
      have_program = true;
      break;
    }
    if (is_help(arg)) return RunHelp{};
    if (arg == "--") {
      ++k;
      have_program = k < args.size();
      break;
    }
    if (arg == "--vocation" || arg == "-v") {
      if (k + 1 < args.size() && is_help(args[k + 1])) return RunHelp{};
      if (k + 1 >= args.size() || args[k + 1].empty() || args[k + 1][0] == '-') {
        return failure(EINVAL, needs_vocation_error(arg));
      }
      options.vocation_id = args[k + 1];
      k += 2;
      continue;
    }
    if (arg.starts_with("--vocation=")) {
      std::string id = arg.substr(arg.find('=') + 1);
      if (id.empty()) return failure(EINVAL, needs_vocation_error("--vocation"));
      options.vocation_id = std::move(id);
      ++k;
      continue;
    }
    if (arg == "--allow-plain") {
      options.allow_plain = true;
      ++k;
      continue;
    }
    return failure(EINVAL, unknown_option_error(arg));
  }
  if (have_program) {
    options.program = args[k];
    options.args.assign(args.begin() + static_cast<std::ptrdiff_t>(k) + 1, args.end());
  }
  return options;
}

std::vector<std::string> agent_args(std::string_view program, const std::vector<std::string>& args,
                                    const std::optional<std::string>& vocation_prompt) {
  if (!vocation_prompt) return args;
  // The program's stem in any case names the agent here.
  const screen::AgentProfile* agent = screen::agent_profile(ascii_lower(program_stem_of(program)));
  if (agent == nullptr || agent->vocation_option.empty()) return args;
  std::vector<std::string> out{std::string(agent->vocation_option), *vocation_prompt};
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

std::vector<std::string> launch_argv(std::string_view program,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> out{std::string(program)};
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

std::optional<std::string> find_program(std::string_view program, std::string_view path_value) {
  if (program.find('/') != std::string_view::npos) {
    std::string path(program);
    if (is_regular_file(path)) return path;
    return std::nullopt;
  }
  while (true) {
    size_t colon = path_value.find(':');
    std::string_view entry = path_value.substr(0, colon);
    if (!entry.empty()) {
      std::string candidate(entry);
      if (candidate.back() != '/') candidate += '/';
      candidate += program;
      if (is_regular_file(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) break;
    path_value.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

std::string_view last_path_component(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace mossbank::run
