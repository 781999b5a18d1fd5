// Which agent a command line runs, and whether it starts an interactive
// session that the wrapper can host in a pseudo-terminal (rather than a
// one-shot run such as a print mode or a `login` / `mcp` sub-command).
//
// Everything here is decided from the argument vector alone: no file system,
// no environment. Nothing fails: an unknown program gives none or false, and
// agent_name_of_program always gives a name. Safe from any thread.
//
// An agent is named by a static lower-case text (AgentName); there is no
// enumeration. Recognition produces "claude", "codex", "copilot",
// "opencode", "muse", "hermes", "grok", "antigravity" and "cursor"; per-agent
// rows may key on further names that agent_name_of_program passes through
// ("kilo", "cline", ...). The rows and lists are in agent_profiles.h.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "screen/screen_pattern.h"

namespace mossbank::screen {

// Points at static storage when recognition produced it.
using AgentName = std::string_view;

// The last path component (after the last "/" or "\"), less one extension of
// agent_lists::stem_extensions (ASCII case-insensitive), in lower case.
std::string program_stem(std::string_view path);

// The agent's display name: the last component less one of
// agent_lists::name_extensions, lower-cased; "cursor-agent" is "cursor",
// "agy" is "antigravity"; "agent" when nothing is left. Any program gives a
// name.
std::string agent_name_of_program(std::string_view path);

// By the program's stem: the name of a row that names itself, or an alias; else Grok Build's
// second name (".grok/bin/agent") or Codex's native binary
// ("codex-x86_64-..."); else none.
std::optional<AgentName> known_agent_of_program(std::string_view path);

// The agent of the first row whose npm package directory lies on the path.
std::optional<AgentName> agent_of_package_path(std::string_view path);

// The agent an argument vector runs (through a launcher such as node or a
// shell when need be); none for helper processes of apps, programs inside an
// app bundle, a shell's -c, and a first command word that never starts a
// session.
std::optional<AgentName> agent_of_command_line(std::span<const std::string> argv);

// The argument before its first "=".
std::string_view option_name(std::string_view arg);
bool option_takes_value(std::string_view agent, std::string_view arg);
bool is_non_session_command(std::string_view agent, std::string_view word);
// The first argument that is a command word, skipping options and their
// values; none at "--" or the end.
std::optional<std::string> first_command_word(std::string_view agent,
                                              std::span<const std::string> args);

// Whether the command line starts an interactive session.
bool is_interactive_session(std::span<const std::string> argv);

// How an agent with rules of its own (muse, copilot, hermes, cursor,
// opencode) tells a session from a one-shot run.
struct CommandOptions {
  std::string_view command;
  std::span<const std::string_view> options;
};
struct SessionRules {
  std::span<const std::string_view> value_options;     // take the next argument
  std::span<const std::string_view> one_shot_options;  // their presence means no session
  std::span<const std::string_view> non_session_commands;
  std::span<const CommandOptions> command_options;
  std::span<const std::string_view> required_options;
  std::span<const std::string_view> session_commands;  // when given, the first word must be one
};
// The row's rules; none for an agent without rules.
const SessionRules* session_rules(std::string_view agent);

// Splits a launch text into words (the run entry's use).
extern const ScreenPattern launch_split_pattern;

}  // namespace mossbank::screen
