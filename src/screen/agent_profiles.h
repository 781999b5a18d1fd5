// One row per agent: everything that differs between the agents the
// wrapper hosts, as data. Code reads a row's fields and does not compare an
// agent's name; adding an agent is adding a row.
//
// A row is found by the agent's exact name (agent_profile); a name without a
// row takes the defaults every reader documents (generic menus, no box of
// its own, Esc to interrupt, one line typed at a time, no restart).
//
// The rows are constant and built at compile time: safe from any thread.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "screen/agent_readers.h"
#include "screen/agents.h"
#include "screen/input_boxes.h"
#include "screen/screen_pattern.h"
#include "screen/typing_profile.h"

namespace mossbank::screen {

using Names = std::span<const std::string_view>;

// Which of the box readers (input_boxes.h) finds the agent's input box.
enum class InputBoxKind : uint8_t {
  kNone,          // none of its own: any screen without an approval counts
  kBare,          // a bare box described by BoxPatterns (bare_box)
  kSide,          // a box with a heavy left bar (read_side_box)
  kRuled,         // the input between two long rules (read_ruled_box)
  kClaudePrompt,  // a "❯" row under a rule; drafts, shell mode (has_claude_prompt_box)
};

// How the line in the box is read at an Enter typed by hand.
struct NewConversationRule {
  const ScreenPattern* box;          // the input row, group 1 its text; none: the side box
  Names commands;                    // lines that start a new conversation
  const ScreenPattern* placeholder;  // what an empty box shows
  std::string_view ghost;            // "r;g;b" of suggestions, or empty
};

// The popup of commands that a typed "/" opens, and the agent's dialogs.
struct SlashPopupRule {
  const ScreenPattern& row;     // a popup row, group 1 its command (the first from the top counts)
  const ScreenPattern& dialog;  // a dialog's title row, trimmed: nothing may be typed there
};

// What the agent's options do to a restart (resume_args): bare options are
// kept alone, valued ones with the next word or as --name=value, variadic
// ones with the words up to the next option; session, valued_session and
// session_commands pick a conversation and are dropped; each of `sets`
// sets one thing (its first names it); config options carry key=value,
// each key a thing of its own.
struct RestartOptions {
  Names bare, valued, variadic, session, valued_session, session_commands;
  std::span<const Names> sets;
  Names config;
};

// Whether a run that names no conversation is started with
// "--session-id <run id>".
enum class SessionIdStart : uint8_t { kNever, kAlways, kInteractive };

struct AgentProfile {
  std::string_view name{};

  // Recognition (agents.h).
  bool names_itself = false;       // a program of this stem is the agent
  Names aliases{};                 // further program stems that are the agent
  std::string_view npm_package{};  // its package directory under node_modules
  Names non_session_commands{};    // beyond non_session_commands below
  Names value_options{};           // none: default_value_options
  Names prompt_options{};          // an interactive prompt: no command word follows
  Names one_shot_commands{};       // a first command word that runs once
  const SessionRules* session_rules = nullptr;

  // Session ids (session_ids.h): new_session_options first; then, unless
  // fork_option is given, session_id_options.
  Names new_session_options{};
  std::string_view fork_option{};
  Names session_id_options{};
  Names exact_session_options{};  // compared with the whole argument
  SessionIdStart session_id_start = SessionIdStart::kNever;

  // Menus: none reads them the generic way; claude_overlays leaves out the
  // lists of Claude Code's overlays there.
  const MenuLayouts* menus = nullptr;
  bool claude_overlays = false;

  InputBoxKind input_box = InputBoxKind::kNone;
  const BoxPatterns* bare_box = nullptr;

  TypingProfile typing{kEscKey, Typing::kOneLine, false};
  const NewConversationRule* new_conversation = nullptr;
  const SlashPopupRule* slash_popup = nullptr;

  bool receipts = false;            // a talk is watched until the prompt is taken
  std::string_view exit_command{};  // makes the agent exit for a restart; empty: none
  std::string_view resume_word{};   // names the conversation again; empty: none
  const RestartOptions* restart = nullptr;
  std::string_view vocation_option{};  // carries a vocation's prompt; empty: none
  bool probe_before_run = false;       // its command line is probed first (Codex's daemon)
};

// Every row, in the order recognition searches them.
std::span<const AgentProfile> agent_profiles();

// The row of exactly this name ("Claude" is not "claude"), or nullptr
// (also without a name).
const AgentProfile* agent_profile(std::optional<std::string_view> name);

// What recognition knows of every agent alike.
namespace agent_lists {

inline constexpr std::array<std::string_view, 8> launcher_programs = {
    "node", "nodejs", "bun", "deno", "python", "python3", "pythonw", "electron"};
inline constexpr std::array<std::string_view, 4> shell_programs = {"sh", "bash", "zsh", "dash"};

// A program path ending in one of these is a script inside a package.
inline constexpr std::array<std::string_view, 3> script_extensions = {".js", ".mjs", ".cjs"};
// Cut from a program's last component: by program_stem, and by
// agent_name_of_program (at most one, the first that matches).
inline constexpr std::array<std::string_view, 8> stem_extensions = {".exe", ".cmd", ".bat", ".ps1",
                                                                    ".js",  ".mjs", ".cjs", ".py"};
inline constexpr std::array<std::string_view, 5> name_extensions = {".exe", ".cmd", ".bat", ".ps1",
                                                                    ".js"};

// Command words that never start an interactive session, for every agent.
inline constexpr std::array<std::string_view, 23> non_session_commands = {
    "app-server", "exec-server", "mcp",    "mcp-server", "login",      "logout",
    "update",     "upgrade",     "doctor", "install",    "completion", "features",
    "debug",      "sandbox",     "config", "auth",       "serve",      "gateway",
    "setup",      "--version",   "-v",     "--help",     "-h"};

// Options that take the next argument as their value, for an agent whose
// row names none.
inline constexpr std::array<std::string_view, 2> default_value_options = {"-m", "--model"};

// Under every agent's session rules these are one-shot options too.
inline constexpr std::array<std::string_view, 5> version_help_flags = {"-v", "-V", "--version",
                                                                       "-h", "--help"};
// For agents without session rules these make a command line one-shot.
inline constexpr std::array<std::string_view, 6> print_flags = {
    "-p", "--print", "--prompt", "--single", "--prompt-file", "--prompt-json"};

}  // namespace agent_lists

}  // namespace mossbank::screen
