#include "run/start/resume.h"

#include "base/text.h"
#include "screen/agents.h"

namespace mossbank::run {

namespace {

// restart.json: what each agent's options do to a restart.
constexpr std::string_view kRestartTable = R"json({
  "//": "bare: kept alone; valued: kept with the next word or as --name=value; variadic: kept with the words up to the next option; session, valuedSession, sessionCommands: pick a conversation, dropped; sets: options that set one thing (the first names it); config: options whose value is key=value, each key a thing of its own",
  "claude": {
    "bare": ["--dangerously-skip-permissions", "--allow-dangerously-skip-permissions", "--verbose", "--ide", "--strict-mcp-config", "--chrome", "--no-chrome", "--disable-slash-commands"],
    "valued": ["--model", "--effort", "--permission-mode", "--append-system-prompt", "--system-prompt", "--settings", "--fallback-model", "--agent", "--agents", "--setting-sources", "--plugin-dir"],
    "variadic": ["--add-dir", "--allowedTools", "--allowed-tools", "--disallowedTools", "--disallowed-tools", "--mcp-config"],
    "session": ["--continue", "-c", "--fork-session"],
    "valuedSession": ["--resume", "-r", "--session-id"],
    "sessionCommands": [],
    "sets": [["--model"], ["--effort"], ["--permission-mode", "--dangerously-skip-permissions"]],
    "config": []
  },
  "codex": {
    "bare": ["--oss", "--full-auto", "--dangerously-bypass-approvals-and-sandbox", "--yolo", "--search", "--no-alt-screen", "--no-daemon"],
    "valued": ["-c", "--config", "-m", "--model", "-p", "--profile", "-s", "--sandbox", "-a", "--ask-for-approval", "-C", "--cd", "--local-provider", "--enable", "--disable", "--add-dir"],
    "variadic": ["-i", "--image"],
    "session": ["--last", "--all"],
    "valuedSession": [],
    "sessionCommands": ["resume", "fork"],
    "sets": [["-m", "--model"], ["model_reasoning_effort"], ["-s", "--sandbox", "-a", "--ask-for-approval", "--dangerously-bypass-approvals-and-sandbox", "--full-auto", "--yolo"]],
    "config": ["-c", "--config"]
  }
})json";

const JsonValue& restart_table() {
  static const JsonValue table = parse_json(kRestartTable).value_or(JsonValue::object());
  return table;
}

std::optional<std::string_view> resume_word(std::string_view agent) {
  if (agent == "claude" || agent == "grok") return "--resume";
  if (agent == "codex") return "resume";
  if (agent == "antigravity") return "--conversation";
  return std::nullopt;
}

// Whether the entry's array `key` holds the text (a missing key is empty).
bool in_list(const JsonValue& entry, std::string_view key, std::string_view name) {
  const JsonValue* list = json_member(entry, key);
  if (list == nullptr || !list->is_array()) return false;
  for (const JsonValue& item : *list) {
    if (item.is_string() && item.get_ref<const std::string&>() == name) return true;
  }
  return false;
}

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

const JsonValue* restart_entry(std::string_view agent) {
  const JsonValue* entry = json_member(restart_table(), agent);
  return entry != nullptr && entry->is_object() ? entry : nullptr;
}

std::vector<std::vector<std::string>> option_groups(std::span<const std::string> words) {
  std::vector<std::vector<std::string>> groups;
  for (const std::string& word : words) {
    if (groups.empty() || starts_option(word)) groups.emplace_back();
    groups.back().push_back(word);
  }
  return groups;
}

std::string restart_config(const JsonValue& entry, std::span<const std::string> group) {
  if (group.empty()) return "";
  auto [name_view, carried] = split_carried(group[0]);
  std::string name(name_view);
  std::string value = carried ? std::string(*carried) : group.size() > 1 ? group[1] : "";
  if (in_list(entry, "config", name)) name = value.substr(0, value.find('='));
  if (const JsonValue* sets = json_member(entry, "sets"); sets != nullptr && sets->is_array()) {
    for (const JsonValue& set : *sets) {
      if (!set.is_array() || set.empty()) continue;
      for (const JsonValue& member : set) {
        if (member.is_string() && member.get_ref<const std::string&>() == name) {
          return set[0].is_string() ? set[0].get<std::string>() : name;
        }
      }
    }
  }
  return name;
}

std::optional<std::vector<std::string>> resume_args(std::string_view program,
                                                    std::span<const std::string> args,
                                                    std::string_view session_id,
                                                    std::span<const std::string> launch_words) {
  const std::string agent = screen::agent_name_of_program(program);
  std::optional<std::string_view> word = resume_word(agent);
  const JsonValue* entry = restart_entry(agent);
  if (!word || entry == nullptr) return std::nullopt;

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
    if (in_list(*entry, "session", name)) {
      session_seen = true;
      continue;
    }
    if (in_list(*entry, "valuedSession", name)) {
      session_seen = true;
      if (!carried && has_next && !starts_option(args[k + 1])) ++k;
      continue;
    }
    const bool bare = in_list(*entry, "bare", name);
    const bool valued = in_list(*entry, "valued", name);
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
    if (in_list(*entry, "variadic", name)) {
      kept.push_back(arg);
      if (!carried) {
        while (k + 1 < args.size() && !starts_option(args[k + 1])) kept.push_back(args[++k]);
      }
      continue;
    }
    return std::nullopt;
  }

  if (!positional.empty()) {
    if (!in_list(*entry, "sessionCommands", positional[0])) return std::nullopt;
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
      launch_keys.push_back(restart_config(*entry, group));
    }
    for (const auto& group : option_groups(kept)) {
      if (listed(launch_keys, restart_config(*entry, group))) continue;
      words.insert(words.end(), group.begin(), group.end());
    }
    words.insert(words.end(), launch_words.begin(), launch_words.end());
  }

  std::vector<std::string> out{std::string(*word), std::string(session_id)};
  out.insert(out.end(), words.begin(), words.end());
  return out;
}

std::optional<std::string_view> exit_command(std::string_view agent) {
  if (agent == "claude") return "/exit";
  if (agent == "codex") return "/quit";
  return std::nullopt;
}

}  // namespace mossbank::run
