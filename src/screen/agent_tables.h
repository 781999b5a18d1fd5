// The data that agent recognition works from (agents.h), in the order the
// rules search it.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <utility>

namespace mossbank::screen::agent_tables {

using Names = std::span<const std::string_view>;
using Pair = std::pair<std::string_view, std::string_view>;

// Program stems that name an agent themselves.
inline constexpr std::array<std::string_view, 8> program_names = {
    "claude", "codex", "copilot", "opencode", "muse", "hermes", "grok", "antigravity"};

// (program stem, agent)
inline constexpr std::array<Pair, 2> aliases = {
    Pair{"cursor-agent", "cursor"}, Pair{"agy", "antigravity"}};

// (package directory under node_modules, agent)
inline constexpr std::array<Pair, 4> npm_packages = {
    Pair{"@anthropic-ai/claude-code", "claude"}, Pair{"@openai/codex", "codex"},
    Pair{"@github/copilot", "copilot"}, Pair{"opencode-ai", "opencode"}};

inline constexpr std::array<std::string_view, 8> launcher_programs = {
    "node", "nodejs", "bun", "deno", "python", "python3", "pythonw", "electron"};
inline constexpr std::array<std::string_view, 4> shell_programs = {"sh", "bash", "zsh", "dash"};

// A program path ending in one of these is a script inside a package.
inline constexpr std::array<std::string_view, 3> script_extensions = {".js", ".mjs", ".cjs"};
// Cut from a program's last component: by program_stem, and by
// agent_name_of_program (at most one, the first that matches).
inline constexpr std::array<std::string_view, 8> stem_extensions = {
    ".exe", ".cmd", ".bat", ".ps1", ".js", ".mjs", ".cjs", ".py"};
inline constexpr std::array<std::string_view, 5> name_extensions = {
    ".exe", ".cmd", ".bat", ".ps1", ".js"};

// Command words that never start an interactive session, for every agent.
inline constexpr std::array<std::string_view, 23> non_session_commands = {
    "app-server", "exec-server", "mcp",    "mcp-server", "login",     "logout",
    "update",     "upgrade",     "doctor", "install",    "completion", "features",
    "debug",      "sandbox",     "config", "auth",       "serve",     "gateway",
    "setup",      "--version",   "-v",     "--help",     "-h"};

// ... and per agent.
inline constexpr std::array<std::string_view, 22> grok_non_session_commands = {
    "agent",   "clone",  "completions", "cursor-worker", "du",       "disk-usage",
    "export",  "help",   "host-server", "inspect",       "leader",   "memory",
    "models",  "plugin", "sessions",    "trace",         "usage",    "version",
    "v",       "worker", "worktree",    "wrap"};
inline constexpr std::array<std::string_view, 14> codex_non_session_commands = {
    "agents", "queue",   "review", "plugin",    "remote-control",   "app",   "apply",
    "a",      "archive", "delete", "unarchive", "migrate-rollouts", "cloud", "help"};
inline constexpr std::array<std::string_view, 8> claude_non_session_commands = {
    "--chrome-native-host", "attach", "daemon", "bg-pty-host", "agents", "logs", "stop", "rm"};
inline constexpr std::array<std::string_view, 18> antigravity_non_session_commands = {
    "-p",        "--print",  "--prompt", "--bg-updater", "--hub",   "acp",
    "agent",     "agents",   "changelog", "help",        "install", "mcp",
    "mic-serve", "models",   "plugin",   "plugins",      "remote-control", "update"};

// Options that take the next argument as their value, compared with the
// whole argument.
inline constexpr std::array<std::string_view, 2> default_value_options = {"-m", "--model"};
inline constexpr std::array<std::string_view, 17> antigravity_value_options = {
    "--add-dir",      "--app_data_dir",  "--csrf_token",   "--hub-port",      "--agent",
    "--conversation", "--effort",        "-i",             "--input-format",  "--json-schema",
    "--log-file",     "--mode",          "--output-format", "--print-timeout", "--project",
    "--prompt-interactive", "--settings"};
inline constexpr std::array<std::string_view, 35> grok_value_options = {
    "--add-dir",      "--agent",          "--agents",           "--allow",
    "--allowedTools", "--allowed-tools",  "--cwd",              "--debug-file",
    "--deny",         "--disallowedTools", "--disallowed-tools", "--json-schema",
    "--leader-socket", "--max-turns",     "--output-format",    "-p",
    "--single",       "--permission-mode", "--prompt-file",     "--prompt-json",
    "--reasoning-effort", "--effort",     "-r",                 "--resume",
    "--rules",        "-s",               "--session-id",       "--sandbox",
    "--system-prompt-override", "--system-prompt", "--tools",   "-w",
    "--worktree",     "--worktree-ref",   "--ref"};
inline constexpr std::array<std::string_view, 13> claude_value_options = {
    "-m",
    "--model",
    "--settings",
    "--append-system-prompt",
    "--system-prompt",
    "--session-id",
    "--permission-mode",
    "--permission-prompt-tool",
    "--output-format",
    "--input-format",
    "--mcp-config",
    "--fallback-model",
    "--effort"};
inline constexpr std::array<std::string_view, 18> codex_value_options = {
    "-m",  "--model",   "-c", "--config",           "-p", "--profile", "-C",       "--cd",
    "-s",  "--sandbox", "-a", "--ask-for-approval", "-i", "--image",   "--enable", "--disable",
    "--add-dir", "--local-provider"};

// Under every agent's session rules these are one-shot options too.
inline constexpr std::array<std::string_view, 5> version_help_flags = {
    "-v", "-V", "--version", "-h", "--help"};
// For agents without session rules these make a command line one-shot.
inline constexpr std::array<std::string_view, 6> print_flags = {
    "-p", "--print", "--prompt", "--single", "--prompt-file", "--prompt-json"};

}  // namespace mossbank::screen::agent_tables
