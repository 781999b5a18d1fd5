#include "run/start/resume.h"

#include "base/text.h"
#include "screen/agent_profiles.h"
#include "screen/agents.h"

namespace mossbank::run {

namespace {

bool is_option(std::string_view word) { return word.size() > 1 && word[0] == '-'; }
bool starts_option(std::string_view word) { return !word.empty() && word[0] == '-'; }

// "--name=value" gives ("--name", "value"); anything else the word alone.
std::pair<std::string_view, std::optional<std::string_view>> split_carried(std::string_view word) {
  if (word.starts_with("--")) {
    size_t eq = word.find('=');
    if (eq != std::string_view::npos) return {word.substr(0, eq), word.substr(eq + 1)};
  }
  return {word, std::nullopt};
}

}  // namespace

std::vector<std::vector<std::string>> option_groups(std::span<const std::string> words) {
  std::vector<std::vector<std::string>> groups;
  for (const std::string& word : words) {
    if (groups.empty() || starts_option(word)) groups.emplace_back();
    groups.back().push_back(word);
  }
  return groups;
}

std::string restart_config(const screen::RestartOptions& rules,
                           std::span<const std::string> group) {
  if (group.empty()) return "";
  auto [name_view, carried] = split_carried(group[0]);
  std::string name(name_view);
  std::string value = carried ? std::string(*carried) : group.size() > 1 ? group[1] : "";
  if (listed(rules.config, name)) name = value.substr(0, value.find('='));
  for (screen::Names set : rules.sets) {
    if (!set.empty() && listed(set, name)) return std::string(set[0]);
  }
  return name;
}

std::optional<std::vector<std::string>> resume_args(std::string_view program,
                                                    std::span<const std::string> args,
                                                    std::string_view session_id,
                                                    std::span<const std::string> launch_words) {
  const screen::AgentProfile* agent = screen::agent_profile(screen::agent_name_of_program(program));
  if (agent == nullptr || agent->resume_word.empty() || agent->restart == nullptr)
    return std::nullopt;
  const screen::RestartOptions& rules = *agent->restart;

  std::vector<std::string> kept;
  std::vector<std::string_view> positional;
  bool session_seen = false;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (arg == "--") return std::nullopt;
    if (!is_option(arg)) {
      positional.push_back(arg);
      continue;
    }
    auto [name, carried] = split_carried(arg);
    const bool has_next = k + 1 < args.size();
    if (listed(rules.session, name)) {
      session_seen = true;
      continue;
    }
    if (listed(rules.valued_session, name)) {
      session_seen = true;
      if (!carried && has_next && !starts_option(args[k + 1])) ++k;
      continue;
    }
    const bool bare = listed(rules.bare, name);
    const bool valued = listed(rules.valued, name);
    if (bare && (!carried || valued)) {
      kept.push_back(arg);
      continue;
    }
    if (valued && !bare) {
      if (carried) {
        kept.push_back(arg);
      } else if (!has_next) {
        return std::nullopt;
      } else {
        kept.push_back(arg);
        kept.push_back(args[++k]);
      }
      continue;
    }
    if (listed(rules.variadic, name)) {
      kept.push_back(arg);
      if (!carried) {
        while (k + 1 < args.size() && !starts_option(args[k + 1])) kept.push_back(args[++k]);
      }
      continue;
    }
    return std::nullopt;
  }

  if (!positional.empty()) {
    if (!listed(rules.session_commands, positional[0])) return std::nullopt;
    size_t used = 1;
    if (!session_seen && positional.size() > 1) used = 2;
    if (positional.size() > used) return std::nullopt;
  }

  std::vector<std::string> words;
  if (launch_words.empty()) {
    words = std::move(kept);
  } else {
    std::vector<std::string> launch_keys;
    for (const auto& group : option_groups(launch_words)) {
      launch_keys.push_back(restart_config(rules, group));
    }
    for (const auto& group : option_groups(kept)) {
      if (listed(launch_keys, restart_config(rules, group))) continue;
      words.insert(words.end(), group.begin(), group.end());
    }
    words.insert(words.end(), launch_words.begin(), launch_words.end());
  }

  std::vector<std::string> out{std::string(agent->resume_word), std::string(session_id)};
  out.insert(out.end(), words.begin(), words.end());
  return out;
}

std::optional<std::string_view> exit_command(std::string_view agent) {
  const screen::AgentProfile* profile = screen::agent_profile(agent);
  if (profile == nullptr || profile->exit_command.empty()) return std::nullopt;
  return profile->exit_command;
}

}  // namespace mossbank::run
