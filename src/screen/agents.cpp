#include "screen/agents.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/text.h"
#include "base/utf8.h"
#include "platform/locale.h"
#include "screen/agent_profiles.h"

namespace mossbank::screen {

constinit const ScreenPattern launch_split_pattern{"{js_space}+"};

namespace {

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
  for (const AgentProfile& profile : agent_profiles()) {
    if (listed(profile.aliases, stem)) return profile.name;
  }
  return std::nullopt;
}

std::optional<AgentName> program_name(std::string_view stem) {
  for (const AgentProfile& profile : agent_profiles()) {
    if (profile.names_itself && profile.name == stem) return profile.name;
  }
  return std::nullopt;
}

Names agent_non_session_commands(std::string_view agent) {
  const AgentProfile* profile = agent_profile(agent);
  return profile != nullptr ? profile->non_session_commands : Names();
}

Names value_options(std::string_view agent) {
  const AgentProfile* profile = agent_profile(agent);
  if (profile == nullptr || profile->value_options.empty())
    return agent_lists::default_value_options;
  return profile->value_options;
}

bool is_shell(std::string_view stem) { return listed(agent_lists::shell_programs, stem); }

bool is_launcher_or_shell(std::string_view stem) {
  return listed(agent_lists::launcher_programs, stem) || is_shell(stem);
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

bool ruled_session(std::string_view agent, const SessionRules& rules,
                   std::span<const std::string> argv) {
  bool one_shot = false;
  std::optional<std::string_view> first_word;
  for (size_t k = 1; k < argv.size(); ++k) {
    const std::string& arg = argv[k];
    if (arg == "--") break;
    if (!arg.empty() && arg[0] == '-') {
      std::string_view name = option_name(arg);
      if (listed(rules.one_shot_options, name) || listed(agent_lists::version_help_flags, name)) {
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
  return to_lower(cut_one_extension(last_component(path), agent_lists::stem_extensions));
}

std::string agent_name_of_program(std::string_view path) {
  std::string name =
      to_lower(cut_one_extension(last_component(path), agent_lists::name_extensions));
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
  for (const AgentProfile& profile : agent_profiles()) {
    if (profile.npm_package.empty()) continue;
    std::string needle = "/";
    needle += profile.npm_package;
    needle += '/';
    if (haystack.find(needle) != std::string::npos) return profile.name;
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
    for (std::string_view ext : agent_lists::script_extensions) {
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

std::string_view option_name(std::string_view arg) { return arg.substr(0, arg.find('=')); }

bool option_takes_value(std::string_view agent, std::string_view arg) {
  return listed(value_options(agent), arg);
}

bool is_non_session_command(std::string_view agent, std::string_view word) {
  if (word.size() > 1 && word.starts_with("--")) word = option_name(word);
  return listed(agent_lists::non_session_commands, word) ||
         listed(agent_non_session_commands(agent), word);
}

std::optional<std::string> first_command_word(std::string_view agent,
                                              std::span<const std::string> args) {
  const AgentProfile* profile = agent_profile(agent);
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (profile != nullptr && listed(profile->prompt_options, option_name(arg)))
      return std::nullopt;
    if (is_non_session_command(agent, arg)) return arg;
    if (arg == "--") return std::nullopt;
    if (arg.empty() || arg[0] != '-') return arg;
    if (option_takes_value(agent, arg)) ++k;
  }
  return std::nullopt;
}

const SessionRules* session_rules(std::string_view agent) {
  const AgentProfile* profile = agent_profile(agent);
  return profile != nullptr ? profile->session_rules : nullptr;
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
    if (listed(agent_lists::print_flags, option) && !(option == "-p" && p_is_profile)) {
      return false;
    }
    if (option_takes_value(*agent, arg) && arg.find('=') == std::string::npos) ++k;
  }
  if (const AgentProfile* profile = agent_profile(*agent);
      profile != nullptr && !profile->one_shot_commands.empty()) {
    std::optional<std::string> word = first_command_word(*agent, args);
    if (word && listed(profile->one_shot_commands, *word)) return false;
  }
  return true;
}

}  // namespace mossbank::screen
