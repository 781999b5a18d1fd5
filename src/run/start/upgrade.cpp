#include "run/start/upgrade.h"

#include <sys/stat.h>

#include "base/files.h"
#include "base/json.h"
#include "base/text.h"
#include "daemon/home.h"
#include "platform/process.h"

namespace mossbank::run {

namespace {

// A path as its components; "." components and repeated "/" drop out.
struct PathParts {
  bool absolute = false;
  std::vector<std::string_view> parts;
};

PathParts parse_path(std::string_view path) {
  PathParts out;
  out.absolute = path.starts_with('/');
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    std::string_view part = path.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    if (!part.empty() && part != ".") out.parts.push_back(part);
    if (slash == std::string_view::npos) break;
    pos = slash + 1;
  }
  return out;
}

std::string join_path(const PathParts& p) {
  std::string out = p.absolute ? "/" : "";
  for (size_t i = 0; i < p.parts.size(); ++i) {
    if (i > 0) out += '/';
    out += p.parts[i];
  }
  return out;
}

// Goes up `levels` directories; false when a level is missing.
bool go_up(PathParts& p, size_t levels) {
  for (size_t i = 0; i < levels; ++i) {
    if (p.parts.empty()) return false;
    p.parts.pop_back();
  }
  return true;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the named native tool sits where an installer puts it: an
// absolute ".../cli/bin/mossbank" path without "..".
bool binary_path_acceptable(const std::string& binary, const std::string& own) {
  PathParts p = parse_path(binary);
  if (!p.absolute || p.parts.size() < 3) return false;
  for (std::string_view part : p.parts) {
    if (part == "..") return false;
  }
  const size_t n = p.parts.size();
  const std::string file = ascii_lower(p.parts[n - 1]);
  if (file != "mossbank" && file != "mossbank.exe") return false;
  if (ascii_lower(p.parts[n - 2]) != "bin" || ascii_lower(p.parts[n - 3]) != "cli") return false;
  if (binary == own) return true;
  std::optional<std::string> theirs = app_bundle_root(binary);
  std::optional<std::string> ours = app_bundle_root(own);
  return theirs && ours && *theirs == *ours;
}

bool scopes_hold_run(const JsonValue* scopes) {
  if (scopes == nullptr || !scopes->is_array()) return false;
  for (const JsonValue& s : *scopes) {
    if (s.is_string() && s.get_ref<const std::string&>() == "run") return true;
  }
  return false;
}

std::optional<std::string> native_candidate(const HandoverInput& input) {
  const std::string& own = *input.own_executable;
  std::optional<std::string> own_candidate;
  if (is_executable(own)) own_candidate = own;

  std::optional<JsonValue> file;
  if (std::optional<std::string> text = read_file(home_path(input.home_dir, "rust-cli.json"))) {
    file = parse_json(*text);
  }
  const JsonValue* binary = file ? json_member(*file, "binary") : nullptr;
  if (binary == nullptr || !binary->is_string()) return own_candidate;
  const std::string& path = binary->get_ref<const std::string&>();
  if (!binary_path_acceptable(path, own)) return own_candidate;

  const JsonValue* fallback = json_member(*file, "fallback");
  const JsonValue* checked_at = json_member(*file, "checkedAt");
  std::optional<double> modified = modified_ms(path);
  if (fallback == nullptr || !fallback->is_null()) return std::nullopt;
  if (!scopes_hold_run(json_member(*file, "scopes"))) return std::nullopt;
  if (checked_at == nullptr || !checked_at->is_number() || !modified ||
      checked_at->get<double>() < *modified) {
    return std::nullopt;
  }
  if (!is_executable(path)) return std::nullopt;
  return path;
}

}  // namespace

bool rust_cli_switch_on(const std::optional<std::string>& value) {
  if (!value) return true;
  std::string_view v = trim_unicode_space(*value);
  if (v.empty() || v == "1" || v == "on" || v == "all" || v == "true") return true;
  if (v == "0" || v == "no" || v == "off" || v == "false") return false;
  while (true) {
    size_t comma = v.find(',');
    if (trim_unicode_space(v.substr(0, comma)) == "run") return true;
    if (comma == std::string_view::npos) return false;
    v.remove_prefix(comma + 1);
  }
}

std::vector<std::string> handover_command_line(const RunOptions& options,
                                               const std::vector<std::string>& resume_args) {
  std::vector<std::string> out{"run"};
  if (options.allow_plain) out.push_back("--allow-plain");
  if (options.vocation_id) out.push_back("--vocation=" + *options.vocation_id);
  out.push_back("--");
  out.push_back(options.program);
  out.insert(out.end(), resume_args.begin(), resume_args.end());
  return out;
}

std::optional<HandoverCandidate> node_cli_command(
    const std::string& executable, const std::vector<std::string>& args,
    const std::function<bool(const std::string&)>& exists) {
  PathParts d = parse_path(executable);
  if (!go_up(d, 2)) return std::nullopt;
  const std::string dir = join_path(d);
  HandoverCandidate out;
  if (std::string cjs = home_path(dir, "mossbank.cjs"); exists(cjs)) {
    PathParts r = d;
    if (!go_up(r, 2)) return std::nullopt;
    const std::string root = join_path(r);
    for (const std::string& program :
         {home_path(home_path(root, "MacOS"), "Mossbank"), home_path(root, "Mossbank.exe")}) {
      if (exists(program)) {
        out.program = program;
        out.run_as_node = true;
        out.args = {cjs};
        out.args.insert(out.args.end(), args.begin(), args.end());
        return out;
      }
    }
    return std::nullopt;
  }
  if (std::string js = home_path(dir, "mossbank.js"); exists(js)) {
    out.program = "node";
    out.args = {js};
    out.args.insert(out.args.end(), args.begin(), args.end());
    return out;
  }
  return std::nullopt;
}

std::optional<std::string> app_bundle_root(std::string_view path) {
  PathParts p = parse_path(path);
  if (!go_up(p, 3)) return std::nullopt;
  if (!p.parts.empty() && ascii_lower(p.parts.back()) == "resources") {
    if (!go_up(p, 1)) return std::nullopt;
    if (!p.parts.empty() && ascii_lower(p.parts.back()) == "contents") {
      if (!go_up(p, 2)) return std::nullopt;
    }
  }
  return join_path(p);
}

std::optional<double> modified_ms(const std::string& path) {
  return platform::modified_time_ms(path);
}

bool is_executable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

std::vector<HandoverCandidate> handover_candidates(const HandoverInput& input) {
  std::vector<HandoverCandidate> out;
  const std::vector<std::string> command = handover_command_line(input.options, input.resume_args);
  if (input.own_executable && rust_cli_switch_on(env_var(input.environment, "MOSSBANK_RUST_CLI"))) {
    if (std::optional<std::string> native = native_candidate(input)) {
      HandoverCandidate c;
      c.program = *native;
      c.args = command;
      c.native = true;
      out.push_back(std::move(c));
    }
  }
  if (input.own_executable) {
    if (auto node = node_cli_command(*input.own_executable, command, is_regular_file)) {
      out.push_back(std::move(*node));
    }
  }
  return out;
}

EnvPairs handover_environment(const HandoverInput& input, const HandoverCandidate& candidate) {
  EnvPairs env = env_without_handover(input.environment);
  env.emplace_back("MOSSBANK_RUN_UPGRADE_ID", input.run_id);
  if (!candidate.native) {
    if (candidate.run_as_node) env.emplace_back("ELECTRON_RUN_AS_NODE", "1");
    env.emplace_back("MOSSBANK_RUST_HANDOVER", std::to_string(input.pid));
  }
  return env;
}

void try_upgrade_handover(const HandoverInput& input) {
  for (const HandoverCandidate& candidate : handover_candidates(input)) {
    const EnvPairs env = handover_environment(input, candidate);
    const std::vector<std::string> envp = env_entries(env);
    std::vector<std::string> argv{candidate.program};
    argv.insert(argv.end(), candidate.args.begin(), candidate.args.end());
    if (candidate.program.find('/') != std::string::npos) {
      platform::exec_with_default_signals(candidate.program, argv, envp);
      continue;
    }
    // A bare name is looked up on the successor's own PATH.
    std::string_view path_value;
    std::optional<std::string> path = env_var(env, "PATH");
    if (path) path_value = *path;
    while (true) {
      size_t colon = path_value.find(':');
      std::string_view entry = path_value.substr(0, colon);
      if (!entry.empty()) {
        std::string full = home_path(std::string(entry), candidate.program);
        if (is_regular_file(full)) platform::exec_with_default_signals(full, argv, envp);
      }
      if (colon == std::string_view::npos) break;
      path_value.remove_prefix(colon + 1);
    }
  }
}

}  // namespace mossbank::run
