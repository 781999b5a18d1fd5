#include "screen/session_ids.h"

#include <algorithm>

#include "base/text.h"
#include "screen/agent_profiles.h"
#include "screen/agents.h"
#include "screen/screen_pattern.h"

namespace mossbank::screen {

namespace {

constinit const ScreenPattern session_id_pattern{
    "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$", "the session id pattern"};

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool is_session_id(std::string_view text) { return session_id_pattern.is_match(text); }

std::optional<std::string> new_session_id(FillRandom fill) {
  unsigned char bytes[16] = {};
  if (!fill(bytes, sizeof bytes)) return std::nullopt;
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  const std::string hex = hex_lower(bytes, sizeof bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

std::optional<std::string> parse_session_id(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  static constexpr size_t kLengths[] = {8, 4, 4, 4, 12};
  size_t part = 0, run = 0;
  for (char c : *text) {
    if (c == '-') {
      if (part >= 4 || run != kLengths[part]) return std::nullopt;
      ++part;
      run = 0;
    } else if (is_lower_hex(c)) {
      ++run;
    } else {
      return std::nullopt;
    }
  }
  if (part != 4 || run != kLengths[4]) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string> option_value(std::span<const std::string> args,
                                        std::span<const std::string_view> names) {
  auto next_if_id = [&](size_t k) -> std::optional<std::string> {
    if (k + 1 < args.size() && is_session_id(args[k + 1])) return args[k + 1];
    return std::nullopt;
  };
  for (size_t k = 0; k < args.size(); ++k) {
    std::string_view arg = args[k];
    const size_t eq = arg.find('=');
    if (eq != std::string_view::npos) {
      if (!listed(names, arg.substr(0, eq))) continue;
      std::string_view value = arg.substr(eq + 1);
      value = value.substr(0, value.find('='));
      if (!value.empty() && is_session_id(value)) return std::string(value);
      if (arg[0] == '-') {
        if (std::optional<std::string> id = next_if_id(k)) return id;
      }
      continue;
    }
    if (!listed(names, arg)) continue;
    if (!arg.empty() && arg[0] == '-') {
      if (std::optional<std::string> id = next_if_id(k)) return id;
      continue;
    }
    for (size_t later = k + 1; later < args.size(); ++later) {
      if (is_session_id(args[later])) return args[later];
    }
  }
  return std::nullopt;
}

std::optional<std::string> session_id_of_args(std::string_view agent,
                                              std::span<const std::string> args) {
  const AgentProfile* profile = agent_profile(agent);
  if (profile == nullptr) return std::nullopt;
  if (!profile->new_session_options.empty()) {
    if (std::optional<std::string> id = option_value(args, profile->new_session_options)) return id;
  }
  if (!profile->fork_option.empty() &&
      std::find(args.begin(), args.end(), profile->fork_option) != args.end()) {
    return std::nullopt;
  }
  return option_value(args, profile->session_id_options);
}

bool has_session_option(std::string_view agent, std::span<const std::string> args) {
  const AgentProfile* profile = agent_profile(agent);
  const Names exact = profile != nullptr ? profile->exact_session_options : Names();
  return std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
    return listed(session_options, option_name(arg)) || listed(exact, arg);
  });
}

RunSession run_session(std::string_view program, std::vector<std::string> args,
                       std::string_view run_id) {
  const std::string agent = agent_name_of_program(program);
  const AgentProfile* profile = agent_profile(agent);
  const SessionIdStart start =
      profile != nullptr ? profile->session_id_start : SessionIdStart::kNever;
  bool extend = false;
  if (!has_session_option(agent, args)) {
    if (start == SessionIdStart::kAlways) {
      extend = true;
    } else if (start == SessionIdStart::kInteractive) {
      std::vector<std::string> argv;
      argv.reserve(args.size() + 1);
      argv.emplace_back(program);
      argv.insert(argv.end(), args.begin(), args.end());
      extend = is_interactive_session(argv);
    }
  }
  if (extend) {
    args.insert(args.begin(), {"--session-id", std::string(run_id)});
  }
  RunSession session;
  session.session_id = session_id_of_args(agent, args);
  session.args = std::move(args);
  return session;
}

}  // namespace mossbank::screen
