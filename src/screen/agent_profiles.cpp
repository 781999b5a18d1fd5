#include "screen/agent_profiles.h"

#include <algorithm>

namespace mossbank::screen {

namespace {

template <size_t N>
using List = std::array<std::string_view, N>;

constexpr std::string_view kPatternFailure = "a wrapper pattern";

// Typing: interrupt keys, then whether several lines may be typed.
constexpr TypingProfile kEscTyping{kEscKey, Typing::kLines, false};
constexpr TypingProfile kEscEscTyping{kEscEscKeys, Typing::kLines, false};
constexpr TypingProfile kOneLineTyping{kEscKey, Typing::kOneLine, false};
constexpr TypingProfile kCtrlCOneLineTyping{kCtrlCKey, Typing::kOneLine, false};

// Claude Code.
constexpr List<8> kClaudeNonSession = {
    "--chrome-native-host", "attach", "daemon", "bg-pty-host", "agents", "logs", "stop", "rm"};
constexpr List<13> kClaudeValueOptions = {"-m",
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
constexpr List<1> kClaudeNewSession = {"--session-id"};
constexpr List<3> kClaudeSessionIds = {"--resume", "-r", "--session-id"};
constinit const ScreenPattern claude_box_line{"^❯[ \u00a0](.*)$", kPatternFailure};
constexpr List<1> kClaudeNewCommands = {"/clear"};
constexpr NewConversationRule kClaudeNewConversation{
    &claude_box_line, kClaudeNewCommands, nullptr, {}};
constexpr List<8> kClaudeBare = {"--dangerously-skip-permissions",
                                 "--allow-dangerously-skip-permissions",
                                 "--verbose",
                                 "--ide",
                                 "--strict-mcp-config",
                                 "--chrome",
                                 "--no-chrome",
                                 "--disable-slash-commands"};
constexpr List<11> kClaudeValued = {
    "--model",         "--effort",          "--permission-mode", "--append-system-prompt",
    "--system-prompt", "--settings",        "--fallback-model",  "--agent",
    "--agents",        "--setting-sources", "--plugin-dir"};
constexpr List<6> kClaudeVariadic = {"--add-dir",         "--allowedTools",     "--allowed-tools",
                                     "--disallowedTools", "--disallowed-tools", "--mcp-config"};
constexpr List<3> kClaudeSession = {"--continue", "-c", "--fork-session"};
constexpr List<1> kClaudeSetsModel = {"--model"};
constexpr List<1> kClaudeSetsEffort = {"--effort"};
constexpr List<2> kClaudeSetsPermissions = {"--permission-mode", "--dangerously-skip-permissions"};
constexpr Names kClaudeSets[] = {kClaudeSetsModel, kClaudeSetsEffort, kClaudeSetsPermissions};
constexpr RestartOptions kClaudeRestart{
    kClaudeBare, kClaudeValued, kClaudeVariadic, kClaudeSession, kClaudeSessionIds, {}, kClaudeSets,
    {}};

// Codex.
constexpr List<14> kCodexNonSession = {
    "agents", "queue",   "review", "plugin",    "remote-control",   "app",   "apply",
    "a",      "archive", "delete", "unarchive", "migrate-rollouts", "cloud", "help"};
constexpr List<18> kCodexValueOptions = {
    "-m", "--model", "-c",       "--config",  "-p",        "--profile",
    "-C", "--cd",    "-s",       "--sandbox", "-a",        "--ask-for-approval",
    "-i", "--image", "--enable", "--disable", "--add-dir", "--local-provider"};
constexpr List<2> kCodexOneShotCommands = {"exec", "e"};
constexpr List<1> kCodexSessionIds = {"resume"};
constexpr TypingProfile kCodexTyping{kEscKey, Typing::kLinesToo, true};
constinit const ScreenPattern codex_box_line{"^› (.*)$", kPatternFailure};
constexpr List<1> kNewCommands = {"/new"};
constexpr NewConversationRule kCodexNewConversation{&codex_box_line, kNewCommands, nullptr, {}};
constexpr List<7> kCodexBare = {
    "--oss",      "--full-auto", "--dangerously-bypass-approvals-and-sandbox",
    "--yolo",     "--search",    "--no-alt-screen",
    "--no-daemon"};
constexpr List<16> kCodexValued = {"-c",
                                   "--config",
                                   "-m",
                                   "--model",
                                   "-p",
                                   "--profile",
                                   "-s",
                                   "--sandbox",
                                   "-a",
                                   "--ask-for-approval",
                                   "-C",
                                   "--cd",
                                   "--local-provider",
                                   "--enable",
                                   "--disable",
                                   "--add-dir"};
constexpr List<2> kCodexVariadic = {"-i", "--image"};
constexpr List<2> kCodexSession = {"--last", "--all"};
constexpr List<2> kCodexSessionCommands = {"resume", "fork"};
constexpr List<2> kCodexSetsModel = {"-m", "--model"};
constexpr List<1> kCodexSetsEffort = {"model_reasoning_effort"};
constexpr List<7> kCodexSetsApprovals = {"-s",
                                         "--sandbox",
                                         "-a",
                                         "--ask-for-approval",
                                         "--dangerously-bypass-approvals-and-sandbox",
                                         "--full-auto",
                                         "--yolo"};
constexpr Names kCodexSets[] = {kCodexSetsModel, kCodexSetsEffort, kCodexSetsApprovals};
constexpr List<2> kCodexConfig = {"-c", "--config"};
constexpr RestartOptions kCodexRestart{kCodexBare,    kCodexValued, kCodexVariadic,
                                       kCodexSession, {},           kCodexSessionCommands,
                                       kCodexSets,    kCodexConfig};

// GitHub Copilot.
constexpr List<31> kCopilotValueOptions = {"--add-dir",
                                           "--add-github-mcp-tool",
                                           "--add-github-mcp-toolset",
                                           "--additional-mcp-config",
                                           "--agent",
                                           "--attachment",
                                           "--auto-tier",
                                           "--context",
                                           "--disable-mcp-server",
                                           "--dynamic-retrieval",
                                           "--enable-mcp-server",
                                           "--extension-sdk-path",
                                           "-i",
                                           "--interactive",
                                           "--log-dir",
                                           "--log-level",
                                           "--max-ai-credits",
                                           "--max-autopilot-continues",
                                           "--mcp-github-auth",
                                           "--mode",
                                           "--model",
                                           "-n",
                                           "--name",
                                           "--output-format",
                                           "--plugin-dir",
                                           "-p",
                                           "--prompt",
                                           "--reasoning-effort",
                                           "--session-id",
                                           "--stream",
                                           "--usage-output-file"};
constexpr List<3> kCopilotOneShot = {"-p", "--prompt", "--acp"};
constexpr List<11> kCopilotNonSession = {"app",      "help",        "init",     "version",
                                         "workflow", "sessions",    "memories", "plugin",
                                         "skill",    "instruction", "lsp"};
constexpr SessionRules kCopilotRules{
    kCopilotValueOptions, kCopilotOneShot, kCopilotNonSession, {}, {}, {}};

// OpenCode.
constexpr List<5> kOpencodeValueOptions = {"--server", "--session", "-s", "--prompt",
                                           "--log-level"};
constexpr List<1> kOpencodeOneShot = {"--completions"};
constexpr List<11> kOpencodeNonSession = {"run",       "acp",   "api",     "plugin",
                                          "models",    "stats", "session", "service",
                                          "uninstall", "pair",  "reload"};
constexpr SessionRules kOpencodeRules{
    kOpencodeValueOptions, kOpencodeOneShot, kOpencodeNonSession, {}, {}, {}};
constexpr NewConversationRule kOpencodeNewConversation{nullptr, kNewCommands, nullptr, {}};
constinit const ScreenPattern opencode_popup_row{"^┃ (/[a-z][a-z0-9-]*) {2,}\\S", kPatternFailure};
constinit const ScreenPattern opencode_dialog_title{"^\\S.*\\S {3,}esc$", kPatternFailure};
constexpr SlashPopupRule kOpencodePopup{opencode_popup_row, opencode_dialog_title};

// Muse.
constexpr List<18> kMuseValueOptions = {"--agents",
                                        "--provider",
                                        "--preset",
                                        "--model",
                                        "--contributor-mode",
                                        "-c",
                                        "--config",
                                        "--reasoning-effort",
                                        "--base-url",
                                        "--image",
                                        "--workspace",
                                        "--worktree-base",
                                        "--worktree-existing",
                                        "--approval-mode",
                                        "--permission-profile",
                                        "--approval-judge",
                                        "--echo-delay-ms",
                                        "--sandbox-network"};
constexpr List<11> kMuseNonSession = {"exec",  "export",  "trace",  "model-profile",   "skills",
                                      "voice", "plugins", "schema", "session-message", "usage",
                                      "init"};
constexpr SessionRules kMuseRules{kMuseValueOptions, {}, kMuseNonSession, {}, {}, {}};

// Hermes.
constexpr List<21> kHermesValueOptions = {
    "-z",         "--oneshot",   "--usage-file", "--cpu-profile", "-m",       "--model",
    "--provider", "--reasoning", "-t",           "--toolsets",    "--resume", "-r",
    "--in",       "--continue",  "-c",           "--skills",      "-s",       "-p",
    "--profile",  "-q",          "--query"};
constexpr List<4> kHermesOneShot = {"-z", "--oneshot", "-q", "--query"};
constexpr List<1> kHermesSessionCommands = {"chat"};
constexpr SessionRules kHermesRules{kHermesValueOptions,   kHermesOneShot, {}, {}, {},
                                    kHermesSessionCommands};

// Grok Build.
constexpr List<22> kGrokNonSession = {
    "agent",  "clone",  "completions", "cursor-worker", "du",     "disk-usage",
    "export", "help",   "host-server", "inspect",       "leader", "memory",
    "models", "plugin", "sessions",    "trace",         "usage",  "version",
    "v",      "worker", "worktree",    "wrap"};
constexpr List<35> kGrokValueOptions = {"--add-dir",
                                        "--agent",
                                        "--agents",
                                        "--allow",
                                        "--allowedTools",
                                        "--allowed-tools",
                                        "--cwd",
                                        "--debug-file",
                                        "--deny",
                                        "--disallowedTools",
                                        "--disallowed-tools",
                                        "--json-schema",
                                        "--leader-socket",
                                        "--max-turns",
                                        "--output-format",
                                        "-p",
                                        "--single",
                                        "--permission-mode",
                                        "--prompt-file",
                                        "--prompt-json",
                                        "--reasoning-effort",
                                        "--effort",
                                        "-r",
                                        "--resume",
                                        "--rules",
                                        "-s",
                                        "--session-id",
                                        "--sandbox",
                                        "--system-prompt-override",
                                        "--system-prompt",
                                        "--tools",
                                        "-w",
                                        "--worktree",
                                        "--worktree-ref",
                                        "--ref"};
constexpr List<1> kGrokSessionIds = {"--resume"};
constexpr List<1> kGrokExactSessionOptions = {"-s"};
constexpr TypingProfile kGrokTyping{kCtrlCKey, Typing::kLinesToo, false};
constinit const ScreenPattern grok_box_line{"^[ \\t]*│ [>❯](?: (\\S.*?))?[ \\t]*│?$",
                                            kPatternFailure};
constinit const ScreenPattern grok_box_placeholder{"^Type a message\\.\\.\\.$", kPatternFailure};
constexpr NewConversationRule kGrokNewConversation{
    &grok_box_line, {}, &grok_box_placeholder, "88;88;88"};

// Antigravity.
constexpr List<18> kAntigravityNonSession = {
    "-p",        "--print", "--prompt",  "--bg-updater", "--hub",          "acp",
    "agent",     "agents",  "changelog", "help",         "install",        "mcp",
    "mic-serve", "models",  "plugin",    "plugins",      "remote-control", "update"};
constexpr List<17> kAntigravityValueOptions = {
    "--add-dir",       "--app_data_dir",  "--csrf_token", "--hub-port",
    "--agent",         "--conversation",  "--effort",     "-i",
    "--input-format",  "--json-schema",   "--log-file",   "--mode",
    "--output-format", "--print-timeout", "--project",    "--prompt-interactive",
    "--settings"};
constexpr List<2> kAntigravityPromptOptions = {"-i", "--prompt-interactive"};
constexpr List<1> kAntigravitySessionIds = {"--conversation"};
constinit const ScreenPattern antigravity_box_line{"^>[ \\t](.*)$", kPatternFailure};
constexpr NewConversationRule kAntigravityNewConversation{&antigravity_box_line, {}, nullptr, {}};

// Cursor's agent.
constexpr List<13> kCursorValueOptions = {
    "--api-key",       "-H",           "--header",       "-e",        "--endpoint",
    "--output-format", "--mode",       "--model",        "--sandbox", "--workspace",
    "--add-dir",       "--plugin-dir", "--worktree-base"};
constexpr List<3> kCursorOneShot = {"-p", "--print", "--list-models"};
constexpr List<15> kCursorNonSession = {"install-shell-integration",
                                        "uninstall-shell-integration",
                                        "logout",
                                        "plugin",
                                        "worker",
                                        "status",
                                        "whoami",
                                        "models",
                                        "team",
                                        "bedrock",
                                        "about",
                                        "create-chat",
                                        "generate-rule",
                                        "rule",
                                        "help"};
constexpr SessionRules kCursorRules{
    kCursorValueOptions, kCursorOneShot, kCursorNonSession, {}, {}, {}};
constexpr List<1> kCursorAliases = {"cursor-agent"};
constexpr List<1> kAntigravityAliases = {"agy"};

constexpr AgentProfile claude() {
  return {.name = "claude",
          .names_itself = true,
          .npm_package = "@anthropic-ai/claude-code",
          .non_session_commands = kClaudeNonSession,
          .value_options = kClaudeValueOptions,
          .new_session_options = kClaudeNewSession,
          .fork_option = "--fork-session",
          .session_id_options = kClaudeSessionIds,
          .session_id_start = SessionIdStart::kAlways,
          .claude_overlays = true,
          .input_box = InputBoxKind::kClaudePrompt,
          .typing = kEscTyping,
          .new_conversation = &kClaudeNewConversation,
          .receipts = true,
          .exit_command = "/exit",
          .resume_word = "--resume",
          .restart = &kClaudeRestart,
          .vocation_option = "--append-system-prompt"};
}

constexpr AgentProfile codex() {
  return {.name = "codex",
          .names_itself = true,
          .npm_package = "@openai/codex",
          .non_session_commands = kCodexNonSession,
          .value_options = kCodexValueOptions,
          .one_shot_commands = kCodexOneShotCommands,
          .session_id_options = kCodexSessionIds,
          .menus = &codex_menus,
          .input_box = InputBoxKind::kBare,
          .bare_box = &codex_box_patterns,
          .typing = kCodexTyping,
          .new_conversation = &kCodexNewConversation,
          .exit_command = "/quit",
          .resume_word = "resume",
          .restart = &kCodexRestart,
          .probe_before_run = true};
}

constexpr AgentProfile copilot() {
  return {.name = "copilot",
          .names_itself = true,
          .npm_package = "@github/copilot",
          .session_rules = &kCopilotRules,
          .menus = &copilot_menus,
          .typing = kEscEscTyping};
}

constexpr AgentProfile opencode() {
  return {.name = "opencode",
          .names_itself = true,
          .npm_package = "opencode-ai",
          .session_rules = &kOpencodeRules,
          .menus = &opencode_menus,
          .input_box = InputBoxKind::kSide,
          .typing = kEscEscTyping,
          .new_conversation = &kOpencodeNewConversation,
          .slash_popup = &kOpencodePopup};
}

constexpr AgentProfile muse() {
  return {
      .name = "muse", .names_itself = true, .session_rules = &kMuseRules, .typing = kOneLineTyping};
}

constexpr AgentProfile hermes() {
  return {.name = "hermes",
          .names_itself = true,
          .session_rules = &kHermesRules,
          .typing = kCtrlCOneLineTyping};
}

constexpr AgentProfile grok() {
  return {.name = "grok",
          .names_itself = true,
          .non_session_commands = kGrokNonSession,
          .value_options = kGrokValueOptions,
          .session_id_options = kGrokSessionIds,
          .exact_session_options = kGrokExactSessionOptions,
          .session_id_start = SessionIdStart::kInteractive,
          .menus = &grok_menus,
          .input_box = InputBoxKind::kBare,
          .bare_box = &grok_box_patterns,
          .typing = kGrokTyping,
          .new_conversation = &kGrokNewConversation,
          .resume_word = "--resume"};
}

constexpr AgentProfile antigravity() {
  return {.name = "antigravity",
          .names_itself = true,
          .aliases = kAntigravityAliases,
          .non_session_commands = kAntigravityNonSession,
          .value_options = kAntigravityValueOptions,
          .prompt_options = kAntigravityPromptOptions,
          .session_id_options = kAntigravitySessionIds,
          .menus = &antigravity_menus,
          .input_box = InputBoxKind::kRuled,
          .typing = kOneLineTyping,
          .new_conversation = &kAntigravityNewConversation,
          .resume_word = "--conversation"};
}

constexpr AgentProfile cursor() {
  return {.name = "cursor",
          .aliases = kCursorAliases,
          .session_rules = &kCursorRules,
          .typing = kEscTyping};
}

// OpenCode's forks draw its menus, but their boxes are not read.
constexpr AgentProfile opencode_fork(std::string_view name) {
  return {.name = name, .menus = &opencode_menus, .typing = kEscEscTyping};
}

// Agents known only by how they are typed into.
constexpr AgentProfile typed_only(std::string_view name, const TypingProfile& typing) {
  return {.name = name, .typing = typing};
}

constinit const std::array<AgentProfile, 17> kProfiles = {
    claude(),
    codex(),
    copilot(),
    opencode(),
    muse(),
    hermes(),
    grok(),
    antigravity(),
    cursor(),
    opencode_fork("kilo"),
    opencode_fork("kilocode"),
    typed_only("auggie", kEscTyping),
    typed_only("cn", kEscTyping),
    typed_only("kimi", kEscTyping),
    typed_only("cline", kEscTyping),
    typed_only("crush", kEscEscTyping),
    typed_only("goose", kCtrlCOneLineTyping),
};

}  // namespace

std::span<const AgentProfile> agent_profiles() { return kProfiles; }

const AgentProfile* agent_profile(std::optional<std::string_view> name) {
  if (!name) return nullptr;
  for (const AgentProfile& profile : kProfiles) {
    if (profile.name == *name) return &profile;
  }
  return nullptr;
}

}  // namespace mossbank::screen
