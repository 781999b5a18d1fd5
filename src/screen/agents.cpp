#include "screen/agents.h"

#include <locale.h>
#include <wctype.h>
#ifdef __APPLE__
#include <xlocale.h>
#endif

#include <algorithm>
#include <array>
#include <vector>

#include "base/text.h"
#include "base/utf8.h"
#include "screen/agent_tables.h"

namespace mossbank::screen {

constinit const ScreenPattern launch_split_pattern{"{js_space}+"};

namespace {

using agent_tables::Names;

constinit const ScreenPattern grok_second_name_pattern{
    "(?i-u)[\\\\/]\\.grok[\\\\/]bin[\\\\/]agent(\\.exe)?$", "Grok Build's second name"};
constinit const ScreenPattern codex_native_binary_pattern{"^codex-(x86_64|aarch64|arm64|i686)-",
                                                          "Codex's native binary"};
constinit const ScreenPattern shell_c_flag_pattern{"^-[a-zA-Z]*c[a-zA-Z]*$", "a shell's -c"};
constinit const ScreenPattern app_bundle_pattern{"\\.app/Contents/(MacOS|Frameworks)/",
                                                 "an app's bundle"};

bool ends_with_ascii_nocase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  std::string_view tail = s.substr(s.size() - suffix.size());
  for (size_t k = 0; k < suffix.size(); ++k) {
    if (ascii_lower(tail[k]) != ascii_lower(suffix[k])) return false;
  }
  return true;
}

std::string_view last_component(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view cut_one_extension(std::string_view name, Names extensions) {
  for (std::string_view ext : extensions) {
    if (ends_with_ascii_nocase(name, ext)) return name.substr(0, name.size() - ext.size());
  }
  return name;
}

// Lower-casing beyond ASCII uses the C library's Unicode tables.
locale_t unicode_locale() {
  static const locale_t loc = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8"}) {
      if (locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))) return l;
    }
    return static_cast<locale_t>(0);
  }();
  return loc;
}

bool is_letter(char32_t c, locale_t loc) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return loc != static_cast<locale_t>(0) && iswalpha_l(static_cast<wint_t>(c), loc);
}

// Unicode lower case, with the two rules that map one character to what
// its neighbours decide: İ becomes "i̇", and a capital sigma that ends a
// word becomes the final form ς.
std::string to_lower(std::string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
  }
  const std::string valid = utf8_lossy(text);
  std::vector<char32_t> cps;
  for (size_t pos = 0; pos < valid.size();) cps.push_back(next_code_point(valid, pos));
  const locale_t loc = unicode_locale();
  std::string out;
  for (size_t k = 0; k < cps.size(); ++k) {
    const char32_t c = cps[k];
    if (c < 0x80) {
      out += ascii_lower(static_cast<char>(c));
    } else if (c == 0x130) {
      out += "i\u0307";
    } else if (c == 0x3A3) {
      bool after_letter = k > 0 && is_letter(cps[k - 1], loc);
      bool before_letter = k + 1 < cps.size() && is_letter(cps[k + 1], loc);
      append_utf8(out, after_letter && !before_letter ? 0x3C2 : 0x3C3);
    } else if (loc != static_cast<locale_t>(0)) {
      append_utf8(out, static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc)));
    } else {
      append_utf8(out, c);
    }
  }
  return out;
}

std::optional<AgentName> alias_target(std::string_view stem) {
  for (const auto& [alias, target] : agent_tables::aliases) {
    if (alias == stem) return target;
  }
  return std::nullopt;
}

std::optional<AgentName> program_name(std::string_view stem) {
  for (std::string_view name : agent_tables::program_names) {
    if (name == stem) return name;
  }
  return std::nullopt;
}

Names agent_non_session_commands(std::string_view agent) {
  if (agent == "grok") return agent_tables::grok_non_session_commands;
  if (agent == "codex") return agent_tables::codex_non_session_commands;
  if (agent == "claude") return agent_tables::claude_non_session_commands;
  if (agent == "antigravity") return agent_tables::antigravity_non_session_commands;
  return {};
}

Names value_options(std::string_view agent) {
  if (agent == "antigravity") return agent_tables::antigravity_value_options;
  if (agent == "grok") return agent_tables::grok_value_options;
  if (agent == "claude") return agent_tables::claude_value_options;
  if (agent == "codex") return agent_tables::codex_value_options;
  return agent_tables::default_value_options;
}

bool is_shell(std::string_view stem) { return listed(agent_tables::shell_programs, stem); }

bool is_launcher_or_shell(std::string_view stem) {
  return listed(agent_tables::launcher_programs, stem) || is_shell(stem);
}

// The first argument after the program that is empty or not an option.
std::optional<size_t> script_index(std::span<const std::string> argv) {
  for (size_t k = 1; k < argv.size(); ++k) {
    if (argv[k].empty() || argv[k][0] != '-') return k;
  }
  return std::nullopt;
}

std::string with_forward_slashes(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

constexpr std::array<std::string_view, 18> kMuseValueOptions = {
    "--agents",           "--provider",           "--preset",           "--model",
    "--contributor-mode", "-c",                   "--config",           "--reasoning-effort",
    "--base-url",         "--image",              "--workspace",        "--worktree-base",
    "--worktree-existing", "--approval-mode",     "--permission-profile", "--approval-judge",
    "--echo-delay-ms",    "--sandbox-network"};
constexpr std::array<std::string_view, 11> kMuseNonSession = {
    "exec",   "export",          "trace", "model-profile", "skills", "voice",
    "plugins", "schema",         "session-message", "usage", "init"};

constexpr std::array<std::string_view, 31> kCopilotValueOptions = {
    "--add-dir",          "--add-github-mcp-tool", "--add-github-mcp-toolset",
    "--additional-mcp-config", "--agent",          "--attachment",
    "--auto-tier",        "--context",             "--disable-mcp-server",
    "--dynamic-retrieval", "--enable-mcp-server",  "--extension-sdk-path",
    "-i",                 "--interactive",         "--log-dir",
    "--log-level",        "--max-ai-credits",      "--max-autopilot-continues",
    "--mcp-github-auth",  "--mode",                "--model",
    "-n",                 "--name",                "--output-format",
    "--plugin-dir",       "-p",                    "--prompt",
    "--reasoning-effort", "--session-id",          "--stream",
    "--usage-output-file"};
constexpr std::array<std::string_view, 3> kCopilotOneShot = {"-p", "--prompt", "--acp"};
constexpr std::array<std::string_view, 11> kCopilotNonSession = {
    "app",     "help",     "init",   "version", "workflow",    "sessions",
    "memories", "plugin",  "skill",  "instruction", "lsp"};

constexpr std::array<std::string_view, 21> kHermesValueOptions = {
    "-z",       "--oneshot", "--usage-file", "--cpu-profile", "-m",  "--model", "--provider",
    "--reasoning", "-t",     "--toolsets",   "--resume",      "-r",  "--in",    "--continue",
    "-c",       "--skills",  "-s",           "-p",            "--profile", "-q", "--query"};
constexpr std::array<std::string_view, 4> kHermesOneShot = {"-z", "--oneshot", "-q", "--query"};
constexpr std::array<std::string_view, 1> kHermesSessionCommands = {"chat"};

constexpr std::array<std::string_view, 13> kCursorValueOptions = {
    "--api-key", "-H",        "--header",    "-e",        "--endpoint", "--output-format", "--mode",
    "--model",   "--sandbox", "--workspace", "--add-dir", "--plugin-dir", "--worktree-base"};
constexpr std::array<std::string_view, 3> kCursorOneShot = {"-p", "--print", "--list-models"};
constexpr std::array<std::string_view, 15> kCursorNonSession = {
    "install-shell-integration", "uninstall-shell-integration", "logout", "plugin", "worker",
    "status", "whoami", "models", "team", "bedrock", "about", "create-chat", "generate-rule", "rule",
    "help"};

constexpr std::array<std::string_view, 5> kOpencodeValueOptions = {
    "--server", "--session", "-s", "--prompt", "--log-level"};
constexpr std::array<std::string_view, 1> kOpencodeOneShot = {"--completions"};
constexpr std::array<std::string_view, 11> kOpencodeNonSession = {
    "run", "acp", "api", "plugin", "models", "stats", "session", "service", "uninstall", "pair",
    "reload"};

const SessionRules kMuseRules{kMuseValueOptions, {}, kMuseNonSession, {}, {}, {}};
const SessionRules kCopilotRules{kCopilotValueOptions, kCopilotOneShot, kCopilotNonSession,
                                 {}, {}, {}};
const SessionRules kHermesRules{kHermesValueOptions, kHermesOneShot, {}, {}, {},
                                kHermesSessionCommands};
const SessionRules kCursorRules{kCursorValueOptions, kCursorOneShot, kCursorNonSession, {}, {}, {}};
const SessionRules kOpencodeRules{kOpencodeValueOptions, kOpencodeOneShot, kOpencodeNonSession,
                                  {}, {}, {}};

bool ruled_session(std::string_view agent, const SessionRules& rules,
                   std::span<const std::string> argv) {
  bool one_shot = false;
  std::optional<std::string_view> first_word;
  for (size_t k = 1; k < argv.size(); ++k) {
    const std::string& arg = argv[k];
    if (arg == "--") break;
    if (!arg.empty() && arg[0] == '-') {
      std::string_view name = option_name(arg);
      if (listed(rules.one_shot_options, name) ||
          listed(agent_tables::version_help_flags, name)) {
        one_shot = true;
      }
      if (listed(rules.value_options, name) && arg.find('=') == std::string::npos) ++k;
      continue;
    }
    if (!first_word) first_word = arg;
  }
  if (one_shot) return false;
  if (!first_word) return true;
  if (is_non_session_command(agent, *first_word) ||
      listed(rules.non_session_commands, *first_word)) {
    return false;
  }
  if (!rules.session_commands.empty() && !listed(rules.session_commands, *first_word)) {
    return false;
  }
  return true;
}

}  // namespace

std::string program_stem(std::string_view path) {
  return to_lower(cut_one_extension(last_component(path), agent_tables::stem_extensions));
}

std::string agent_name_of_program(std::string_view path) {
  std::string name =
      to_lower(cut_one_extension(last_component(path), agent_tables::name_extensions));
  if (std::optional<AgentName> target = alias_target(name)) name = std::string(*target);
  if (name.empty()) name = "agent";
  return name;
}

std::optional<AgentName> known_agent_of_program(std::string_view path) {
  const std::string stem = program_stem(path);
  if (std::optional<AgentName> name = program_name(stem)) return name;
  if (std::optional<AgentName> target = alias_target(stem)) return target;
  if (grok_second_name_pattern.is_match(path)) return AgentName("grok");
  if (codex_native_binary_pattern.is_match(stem)) return AgentName("codex");
  return std::nullopt;
}

std::optional<AgentName> agent_of_package_path(std::string_view path) {
  const std::string haystack = with_forward_slashes(path) + "/";
  for (const auto& [directory, agent] : agent_tables::npm_packages) {
    std::string needle = "/";
    needle += directory;
    needle += '/';
    if (haystack.find(needle) != std::string::npos) return agent;
  }
  return std::nullopt;
}

std::optional<AgentName> agent_of_command_line(std::span<const std::string> argv) {
  if (argv.empty()) return std::nullopt;
  const std::string& program = argv[0];
  for (const std::string& arg : argv) {
    if (arg.size() > 6 && arg.starts_with("--type=")) return std::nullopt;
  }
  if (app_bundle_pattern.is_match(with_forward_slashes(program))) return std::nullopt;

  std::optional<AgentName> agent = known_agent_of_program(program);
  size_t own_args_start = 1;
  if (!agent) {
    bool script_path = false;
    for (std::string_view ext : agent_tables::script_extensions) {
      script_path = script_path || ends_with_ascii_nocase(program, ext);
    }
    std::optional<AgentName> package = agent_of_package_path(program);
    if (script_path || (package && program_stem(program) == *package)) agent = package;
  }
  if (!agent) {
    const std::string stem = program_stem(program);
    if (!is_launcher_or_shell(stem)) return std::nullopt;
    if (is_shell(stem)) {
      for (size_t k = 1; k < argv.size(); ++k) {
        if (shell_c_flag_pattern.is_match(argv[k])) return std::nullopt;
      }
    }
    std::optional<size_t> script = script_index(argv);
    if (!script) return std::nullopt;
    agent = agent_of_package_path(argv[*script]);
    if (!agent) agent = known_agent_of_program(argv[*script]);
    if (!agent) return std::nullopt;
    own_args_start = *script + 1;
  }
  std::optional<std::string> word = first_command_word(*agent, argv.subspan(own_args_start));
  if (word && is_non_session_command(*agent, *word)) return std::nullopt;
  return agent;
}

std::string_view option_name(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}

bool option_takes_value(std::string_view agent, std::string_view arg) {
  return listed(value_options(agent), arg);
}

bool is_non_session_command(std::string_view agent, std::string_view word) {
  if (word.size() > 1 && word.starts_with("--")) word = option_name(word);
  return listed(agent_tables::non_session_commands, word) ||
         listed(agent_non_session_commands(agent), word);
}

std::optional<std::string> first_command_word(std::string_view agent,
                                                   std::span<const std::string> args) {
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (agent == "antigravity") {
      std::string_view name = option_name(arg);
      if (name == "-i" || name == "--prompt-interactive") return std::nullopt;
    }
    if (is_non_session_command(agent, arg)) return arg;
    if (arg == "--") return std::nullopt;
    if (arg.empty() || arg[0] != '-') return arg;
    if (option_takes_value(agent, arg)) ++k;
  }
  return std::nullopt;
}

const SessionRules* session_rules(std::string_view agent) {
  if (agent == "muse") return &kMuseRules;
  if (agent == "copilot") return &kCopilotRules;
  if (agent == "hermes") return &kHermesRules;
  if (agent == "cursor") return &kCursorRules;
  if (agent == "opencode") return &kOpencodeRules;
  return nullptr;
}

bool is_interactive_session(std::span<const std::string> argv) {
  const std::string name = agent_name_of_program(argv.empty() ? std::string_view() : argv[0]);
  if (const SessionRules* rules = session_rules(name)) return ruled_session(name, *rules, argv);

  std::optional<AgentName> agent = agent_of_command_line(argv);
  if (!agent) return false;
  size_t start = 1;
  const std::string stem = program_stem(argv[0]);
  if (stem == "node" || stem == "nodejs" || stem == "bun" || stem == "deno") {
    std::optional<size_t> script = script_index(argv);
    start = script ? *script + 1 : argv.size();
  }
  std::span<const std::string> args = argv.subspan(start);
  const bool p_is_profile = option_takes_value(*agent, "--profile");
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (arg == "--") break;
    std::string_view option = option_name(arg);
    if (listed(agent_tables::print_flags, option) && !(option == "-p" && p_is_profile)) {
      return false;
    }
    if (option_takes_value(*agent, arg) && arg.find('=') == std::string::npos) ++k;
  }
  if (*agent == "codex") {
    std::optional<std::string> word = first_command_word(*agent, args);
    if (word && (*word == "exec" || *word == "e")) return false;
  }
  return true;
}

}  // namespace mossbank::screen
