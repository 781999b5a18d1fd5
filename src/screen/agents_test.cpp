#include "screen/agents.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/agent_tables.h"

namespace mossbank::screen {
namespace {

using Argv = std::vector<std::string>;
namespace tables = agent_tables;

std::string show(const Argv& argv) {
  std::string out;
  for (const std::string& a : argv) out += "[" + a + "]";
  return out;
}

std::string agent_text(const Argv& argv) {
  std::optional<AgentName> a = agent_of_command_line(argv);
  return a ? std::string(*a) : "none";
}

TEST(ProgramNames, StemAndDisplayName) {
  struct Case {
    const char* path;
    const char* stem;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\tools\\Claude.EXE", "claude", "claude"},
      {".exe", "", "agent"},
      {"", "", "agent"},
      {"/usr/local/bin/codex", "codex", "codex"},
      {"/opt/cli.mjs", "cli", "cli.mjs"},        // only the stem cuts .mjs
      {"/opt/tool.py", "tool", "tool.py"},
      {"/opt/x.JS", "x", "x"},
      {"run.cmd.exe", "run.cmd", "run.cmd"},     // at most one extension
      {"/usr/bin/cursor-agent", "cursor-agent", "cursor"},
      {"agy", "agy", "antigravity"},
      {"AGY.exe", "agy", "antigravity"},
      {"/a/b/", "", "agent"},
      {"Kilo", "kilo", "kilo"},
      {"/bin/ÉDIT", "édit", "édit"},
      {"ΟΔΟΣ", "οδος", "οδος"},
      {"İx", "i\u0307x", "i\u0307x"},
      {"a.ps1", "a", "a"},
      {"b.bat", "b", "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(program_stem(c.path), c.stem) << c.path;
    EXPECT_EQ(agent_name_of_program(c.path), c.name) << c.path;
  }
}

TEST(KnownAgent, ByStemAliasGrokSecondNameAndCodexBinary) {
  struct Case {
    const char* path;
    const char* agent;
  };
  const Case cases[] = {
      {"claude", "claude"},
      {"/usr/bin/OpenCode.exe", "opencode"},
      {"hermes", "hermes"},
      {"muse", "muse"},
      {"copilot.cmd", "copilot"},
      {"agy", "antigravity"},
      {"cursor-agent", "cursor"},
      {"cursor", "none"},
      {"/home/u/.grok/bin/agent", "grok"},
      {"C:\\Users\\u\\.GROK\\bin\\Agent.EXE", "grok"},
      {"/home/u/.grok/bin/agent2", "none"},
      {"/home/u/.grok/bin/agent\n", "none"},
      {"/home/u/.gro\u212A/bin/agent", "none"},  // Kelvin sign is not k
      {"codex-aarch64-apple-darwin", "codex"},
      {"/x/codex-x86_64-unknown-linux-musl", "codex"},
      {"codex-riscv-linux", "none"},
      {"kilo", "none"},
  };
  for (const Case& c : cases) {
    std::optional<AgentName> a = known_agent_of_program(c.path);
    EXPECT_EQ(a ? std::string(*a) : "none", c.agent) << c.path;
  }
}

TEST(PackagePath, FirstPackageOnThePath) {
  EXPECT_EQ(agent_of_package_path("/usr/lib/node_modules/@openai/codex/bin/codex.js"), "codex");
  EXPECT_EQ(agent_of_package_path("C:\\npm\\node_modules\\@github\\copilot\\index.js"), "copilot");
  EXPECT_EQ(agent_of_package_path("/x/node_modules/opencode-ai"), "opencode");  // "/" appended
  EXPECT_EQ(agent_of_package_path("/x/@anthropic-ai/claude-code/cli.js"), "claude");
  EXPECT_FALSE(agent_of_package_path("/x/@OpenAI/codex/cli.js"));  // case-sensitive
  EXPECT_FALSE(agent_of_package_path("/x/my-opencode-ai/cli.js"));
}

TEST(CommandLine, AgentOfCommandLine) {
  struct Case {
    Argv argv;
    const char* agent;
  };
  const Case cases[] = {
      {{}, "none"},
      {{"claude"}, "claude"},
      {{"claude", "mcp", "serve"}, "none"},
      {{"claude", "--model", "mcp"}, "claude"},  // the value of --model
      {{"claude", "--model=x", "mcp"}, "none"},
      {{"claude", "-p", "hi"}, "claude"},
      {{"claude", "--version"}, "none"},
      {{"claude", "--help=1"}, "none"},
      {{"claude", "--", "mcp"}, "claude"},
      {{"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js"}, "codex"},
      {{"node", "--inspect", "/usr/lib/node_modules/@openai/codex/bin/codex.js", "login"}, "none"},
      {{"/usr/bin/node", "/x/cli.js"}, "none"},
      {{"/opt/x/node_modules/@openai/codex/vendor/codex"}, "codex"},
      {{"/opt/x/node_modules/@openai/codex/vendor/codex-helper"}, "none"},
      {{"/opt/x/node_modules/@openai/codex/bin/run.mjs"}, "codex"},
      {{"bash", "-lc", "claude"}, "none"},
      {{"bash", "claude"}, "claude"},
      {{"zsh", "-x", "claude", "-c"}, "none"},  // any argument after the shell
      {{"python3", "-u", "/x/copilot"}, "copilot"},
      {{"python3", "/x/tool.py"}, "none"},
      {{"node"}, "none"},
      {{"node", "", "x"}, "none"},
      {{"/Applications/Some.app/Contents/MacOS/claude"}, "none"},
      {{"C:\\Apps\\Some.app\\Contents\\Frameworks\\claude"}, "none"},
      {{"claude", "--type=renderer"}, "none"},
      {{"--type=gpu"}, "none"},
      {{"claude", "--type="}, "none"},
      {{"codex-aarch64-apple-darwin"}, "codex"},
      {{"/home/u/.grok/bin/agent"}, "grok"},
      {{"agy"}, "antigravity"},
      {{"cursor-agent"}, "cursor"},
      {{"grok", "-m", "x"}, "grok"},
      {{"grok", "-m", "models"}, "none"},  // -m takes no value for grok
      {{"codex", "-m", "models"}, "codex"},
      {{"codex", "review"}, "none"},
      {{"antigravity", "-i", "help"}, "antigravity"},
      {{"antigravity", "--prompt-interactive=x", "help"}, "antigravity"},
      {{"antigravity", "help"}, "none"},
      {{"antigravity", "-p"}, "none"},
      {{"kilo"}, "none"},
  };
  for (const Case& c : cases) EXPECT_EQ(agent_text(c.argv), c.agent) << show(c.argv);
}

TEST(CommandLine, FirstCommandWord) {
  EXPECT_EQ(first_command_word("claude", Argv{"--model", "opus", "fix it"}), "fix it");
  EXPECT_EQ(first_command_word("claude", Argv{"-x", "", "y"}), "");
  EXPECT_EQ(first_command_word("claude", Argv{"-x", "--help"}), "--help");
  EXPECT_FALSE(first_command_word("claude", Argv{"-x", "--", "y"}));
  EXPECT_FALSE(first_command_word("claude", Argv{"--model"}));
  EXPECT_FALSE(first_command_word("antigravity", Argv{"-i", "x"}));
  EXPECT_EQ(first_command_word("antigravity", Argv{"--hub", "x"}), "--hub");
}

TEST(CommandLine, OptionNameAndValues) {
  EXPECT_EQ(option_name("--model=a=b"), "--model");
  EXPECT_EQ(option_name("-p"), "-p");
  EXPECT_EQ(option_name("=x"), "");
  EXPECT_TRUE(option_takes_value("claude", "-m"));
  EXPECT_TRUE(option_takes_value("codex", "-m"));
  EXPECT_TRUE(option_takes_value("kilo", "-m"));
  EXPECT_TRUE(option_takes_value("copilot", "--model"));
  EXPECT_FALSE(option_takes_value("grok", "-m"));
  EXPECT_FALSE(option_takes_value("antigravity", "-m"));
  EXPECT_FALSE(option_takes_value("claude", "--model=x"));
  EXPECT_FALSE(option_takes_value("copilot", "--add-dir"));  // session rules are apart
}

TEST(InteractiveSession, Rules) {
  struct Case {
    Argv argv;
    bool interactive;
  };
  const Case cases[] = {
      {{}, false},
      {{"claude"}, true},
      {{"claude", "-p", "hi"}, false},
      {{"claude", "--print=x"}, false},
      {{"claude", "--prompt-file", "x"}, false},
      {{"claude", "--", "-p"}, true},
      {{"claude", "--model", "-p"}, true},  // the value is skipped
      {{"claude", "mcp", "serve"}, false},
      {{"kilo"}, false},
      {{"codex", "-p", "work"}, true},  // a profile for codex
      {{"codex", "--profile", "work"}, true},
      {{"codex", "--print"}, false},
      {{"codex", "exec", "x"}, false},
      {{"codex", "e"}, false},
      {{"codex", "-m", "exec"}, true},
      {{"codex", "--", "exec"}, true},
      {{"grok", "-p", "x"}, false},
      {{"grok", "--single", "x"}, false},
      {{"grok", "-m", "x"}, true},
      {{"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js"}, true},
      {{"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js", "exec"}, false},
      {{"node", "/usr/lib/node_modules/@anthropic-ai/claude-code/cli.js", "-p", "x"}, false},
      {{"bash", "claude", "-p"}, false},
      {{"antigravity", "--prompt"}, false},
      {{"antigravity", "-i", "fix"}, true},
      // Session rules.
      {{"hermes"}, true},
      {{"hermes", "chat"}, true},
      {{"hermes", "-q", "x"}, false},
      {{"hermes", "foo"}, false},
      {{"hermes", "-m", "foo", "chat"}, true},
      {{"hermes", "-m=foo", "chat"}, true},
      {{"hermes", "--version"}, false},
      {{"opencode", "--version"}, false},
      {{"opencode", "-V"}, false},
      {{"opencode", "--", "run"}, true},
      {{"opencode", "run"}, false},
      {{"opencode", "login"}, false},
      {{"opencode", "--session", "run"}, true},
      {{"opencode", "--completions=zsh"}, false},
      {{"opencode", "./project"}, true},
      {{"copilot"}, true},
      {{"copilot", "-p", "x"}, false},
      {{"copilot", "--acp"}, false},
      {{"copilot", "--model", "help"}, true},
      {{"copilot", "help"}, false},
      {{"copilot", "mcp"}, false},
      {{"/usr/bin/cursor-agent"}, true},
      {{"cursor-agent", "--list-models"}, false},
      {{"cursor-agent", "whoami"}, false},
      {{"cursor-agent", "-H", "whoami"}, true},
      {{"muse", "exec"}, false},
      {{"muse", "-c", "exec"}, true},
      {{"muse", "-h"}, false},
      {{"muse", "write a poem"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_interactive_session(c.argv), c.interactive) << show(c.argv);
  }
}

// Each table complete: every entry has its effect, and the counts are those
// of the lists.
TEST(AgentTables, NonSessionCommands) {
  const std::vector<std::string_view> common = {
      "app-server", "exec-server", "mcp",     "mcp-server", "login", "logout", "update",
      "upgrade",    "doctor",      "install", "completion", "features", "debug", "sandbox",
      "config",     "auth",        "serve",   "gateway",    "setup", "--version", "-v",
      "--help",     "-h"};
  struct PerAgent {
    const char* agent;
    std::vector<std::string_view> words;
    size_t table_size;
  };
  const PerAgent per_agent[] = {
      {"grok",
       {"agent", "clone", "completions", "cursor-worker", "du", "disk-usage", "export", "help",
        "host-server", "inspect", "leader", "memory", "models", "plugin", "sessions", "trace",
        "usage", "version", "v", "worker", "worktree", "wrap"},
       tables::grok_non_session_commands.size()},
      {"codex",
       {"agents", "queue", "review", "plugin", "remote-control", "app", "apply", "a", "archive",
        "delete", "unarchive", "migrate-rollouts", "cloud", "help"},
       tables::codex_non_session_commands.size()},
      {"claude",
       {"--chrome-native-host", "attach", "daemon", "bg-pty-host", "agents", "logs", "stop", "rm"},
       tables::claude_non_session_commands.size()},
      {"antigravity",
       {"-p", "--print", "--prompt", "--bg-updater", "--hub", "acp", "agent", "agents",
        "changelog", "help", "install", "mcp", "mic-serve", "models", "plugin", "plugins",
        "remote-control", "update"},
       tables::antigravity_non_session_commands.size()},
  };
  ASSERT_EQ(common.size(), 23u);
  EXPECT_EQ(tables::non_session_commands.size(), 23u);
  for (std::string_view w : common) {
    for (const char* agent : {"claude", "codex", "grok", "antigravity", "kilo"}) {
      EXPECT_TRUE(is_non_session_command(agent, w)) << agent << " " << w;
    }
    for (const char* program : {"claude", "codex", "grok", "agy"}) {
      EXPECT_EQ(agent_text({program, "--model=x", std::string(w)}), "none") << program << " " << w;
    }
  }
  const size_t expected_sizes[] = {22, 14, 8, 18};
  for (size_t k = 0; k < 4; ++k) {
    const PerAgent& p = per_agent[k];
    EXPECT_EQ(p.words.size(), expected_sizes[k]) << p.agent;
    EXPECT_EQ(p.table_size, expected_sizes[k]) << p.agent;
    for (std::string_view w : p.words) {
      EXPECT_TRUE(is_non_session_command(p.agent, w)) << p.agent << " " << w;
      EXPECT_EQ(agent_text({p.agent, std::string(w)}), "none") << p.agent << " " << w;
      // Another agent's word is a prompt, unless it is everyone's.
      bool common_word = std::find(common.begin(), common.end(), w) != common.end();
      EXPECT_EQ(is_non_session_command("kilo", w), common_word) << w;
    }
  }
  // "--" options are compared by name.
  EXPECT_TRUE(is_non_session_command("claude", "--chrome-native-host=1"));
  EXPECT_TRUE(is_non_session_command("kilo", "--version=2"));
  EXPECT_FALSE(is_non_session_command("kilo", "-v=2"));
  EXPECT_FALSE(is_non_session_command("kilo", "--"));
}

TEST(AgentTables, ValueOptions) {
  struct Case {
    const char* agent;
    std::vector<std::string_view> options;
  };
  const Case cases[] = {
      {"kilo", {"-m", "--model"}},
      {"antigravity",
       {"--add-dir", "--app_data_dir", "--csrf_token", "--hub-port", "--agent", "--conversation",
        "--effort", "-i", "--input-format", "--json-schema", "--log-file", "--mode",
        "--output-format", "--print-timeout", "--project", "--prompt-interactive", "--settings"}},
      {"grok",
       {"--add-dir", "--agent", "--agents", "--allow", "--allowedTools", "--allowed-tools",
        "--cwd", "--debug-file", "--deny", "--disallowedTools", "--disallowed-tools",
        "--json-schema", "--leader-socket", "--max-turns", "--output-format", "-p", "--single",
        "--permission-mode", "--prompt-file", "--prompt-json", "--reasoning-effort", "--effort",
        "-r", "--resume", "--rules", "-s", "--session-id", "--sandbox",
        "--system-prompt-override", "--system-prompt", "--tools", "-w", "--worktree",
        "--worktree-ref", "--ref"}},
      {"claude",
       {"-m", "--model", "--settings", "--append-system-prompt", "--system-prompt",
        "--session-id", "--permission-mode", "--permission-prompt-tool", "--output-format",
        "--input-format", "--mcp-config", "--fallback-model", "--effort"}},
      {"codex",
       {"-m", "--model", "-c", "--config", "-p", "--profile", "-C", "--cd", "-s", "--sandbox",
        "-a", "--ask-for-approval", "-i", "--image", "--enable", "--disable", "--add-dir",
        "--local-provider"}},
  };
  const size_t expected_sizes[] = {2, 17, 35, 13, 18};
  EXPECT_EQ(tables::default_value_options.size(), 2u);
  EXPECT_EQ(tables::antigravity_value_options.size(), 17u);
  EXPECT_EQ(tables::grok_value_options.size(), 35u);
  EXPECT_EQ(tables::claude_value_options.size(), 13u);
  EXPECT_EQ(tables::codex_value_options.size(), 18u);
  for (size_t k = 0; k < 5; ++k) {
    const Case& c = cases[k];
    EXPECT_EQ(c.options.size(), expected_sizes[k]) << c.agent;
    for (std::string_view o : c.options) {
      EXPECT_TRUE(option_takes_value(c.agent, o)) << c.agent << " " << o;
      // The option's value is never taken for a command word (antigravity's
      // interactive prompt ends the search instead).
      const bool prompt = c.agent == std::string("antigravity") &&
                          (o == "-i" || o == "--prompt-interactive");
      std::optional<std::string> word =
          first_command_word(c.agent, Argv{std::string(o), "mcp", "prompt"});
      EXPECT_EQ(word.value_or("none"), prompt ? "none" : "prompt") << c.agent << " " << o;
    }
  }
}

TEST(AgentTables, SessionRules) {
  struct Expected {
    const char* agent;
    std::vector<std::string_view> value_options, one_shot, non_session, session_commands;
  };
  const Expected expected[] = {
      {"muse",
       {"--agents", "--provider", "--preset", "--model", "--contributor-mode", "-c", "--config",
        "--reasoning-effort", "--base-url", "--image", "--workspace", "--worktree-base",
        "--worktree-existing", "--approval-mode", "--permission-profile", "--approval-judge",
        "--echo-delay-ms", "--sandbox-network"},
       {},
       {"exec", "export", "trace", "model-profile", "skills", "voice", "plugins", "schema",
        "session-message", "usage", "init"},
       {}},
      {"copilot",
       {"--add-dir", "--add-github-mcp-tool", "--add-github-mcp-toolset",
        "--additional-mcp-config", "--agent", "--attachment", "--auto-tier", "--context",
        "--disable-mcp-server", "--dynamic-retrieval", "--enable-mcp-server",
        "--extension-sdk-path", "-i", "--interactive", "--log-dir", "--log-level",
        "--max-ai-credits", "--max-autopilot-continues", "--mcp-github-auth", "--mode", "--model",
        "-n", "--name", "--output-format", "--plugin-dir", "-p", "--prompt", "--reasoning-effort",
        "--session-id", "--stream", "--usage-output-file"},
       {"-p", "--prompt", "--acp"},
       {"app", "help", "init", "version", "workflow", "sessions", "memories", "plugin", "skill",
        "instruction", "lsp"},
       {}},
      {"hermes",
       {"-z", "--oneshot", "--usage-file", "--cpu-profile", "-m", "--model", "--provider",
        "--reasoning", "-t", "--toolsets", "--resume", "-r", "--in", "--continue", "-c",
        "--skills", "-s", "-p", "--profile", "-q", "--query"},
       {"-z", "--oneshot", "-q", "--query"},
       {},
       {"chat"}},
      {"cursor",
       {"--api-key", "-H", "--header", "-e", "--endpoint", "--output-format", "--mode", "--model",
        "--sandbox", "--workspace", "--add-dir", "--plugin-dir", "--worktree-base"},
       {"-p", "--print", "--list-models"},
       {"install-shell-integration", "uninstall-shell-integration", "logout", "plugin", "worker",
        "status", "whoami", "models", "team", "bedrock", "about", "create-chat", "generate-rule",
        "rule", "help"},
       {}},
      {"opencode",
       {"--server", "--session", "-s", "--prompt", "--log-level"},
       {"--completions"},
       {"run", "acp", "api", "plugin", "models", "stats", "session", "service", "uninstall",
        "pair", "reload"},
       {}},
  };
  // (value options, one-shot options, non-session commands, session commands)
  const size_t counts[][4] = {{18, 0, 11, 0}, {31, 3, 11, 0}, {21, 4, 0, 1}, {13, 3, 15, 0},
                              {5, 1, 11, 0}};
  auto same = [](std::span<const std::string_view> a, const std::vector<std::string_view>& b) {
    return std::vector<std::string_view>(a.begin(), a.end()) == b;
  };
  for (size_t k = 0; k < 5; ++k) {
    const Expected& e = expected[k];
    const SessionRules* rules = session_rules(e.agent);
    ASSERT_NE(rules, nullptr) << e.agent;
    EXPECT_EQ(rules->value_options.size(), counts[k][0]) << e.agent;
    EXPECT_EQ(rules->one_shot_options.size(), counts[k][1]) << e.agent;
    EXPECT_EQ(rules->non_session_commands.size(), counts[k][2]) << e.agent;
    EXPECT_EQ(rules->session_commands.size(), counts[k][3]) << e.agent;
    EXPECT_TRUE(same(rules->value_options, e.value_options)) << e.agent;
    EXPECT_TRUE(same(rules->one_shot_options, e.one_shot)) << e.agent;
    EXPECT_TRUE(same(rules->non_session_commands, e.non_session)) << e.agent;
    EXPECT_TRUE(same(rules->session_commands, e.session_commands)) << e.agent;
    EXPECT_TRUE(rules->command_options.empty()) << e.agent;
    EXPECT_TRUE(rules->required_options.empty()) << e.agent;

    const std::string program = e.agent == std::string("cursor") ? "cursor-agent" : e.agent;
    const std::string first_word = e.session_commands.empty() ? "work" : "chat";
    for (std::string_view o : e.one_shot) {
      EXPECT_FALSE(is_interactive_session(Argv{program, std::string(o)})) << e.agent << " " << o;
    }
    for (std::string_view o : e.value_options) {
      bool one_shot = std::find(e.one_shot.begin(), e.one_shot.end(), o) != e.one_shot.end();
      // The value is consumed: "help" is not the first word.
      EXPECT_EQ(is_interactive_session(Argv{program, std::string(o), "help", first_word}),
                !one_shot)
          << e.agent << " " << o;
    }
    for (std::string_view w : e.non_session) {
      EXPECT_FALSE(is_interactive_session(Argv{program, std::string(w)})) << e.agent << " " << w;
    }
  }
  EXPECT_EQ(session_rules("claude"), nullptr);
  EXPECT_EQ(session_rules("kilo"), nullptr);
  for (std::string_view f : tables::version_help_flags) {
    EXPECT_FALSE(is_interactive_session(Argv{"opencode", std::string(f)})) << f;
  }
  EXPECT_EQ(tables::version_help_flags.size(), 5u);
}

TEST(AgentTables, ProgramsLaunchersAndPackages) {
  EXPECT_EQ(tables::program_names.size(), 8u);
  for (std::string_view name : tables::program_names) {
    EXPECT_EQ(known_agent_of_program(std::string("/bin/") + std::string(name) + ".exe"), name);
  }
  EXPECT_EQ(tables::aliases.size(), 2u);
  EXPECT_EQ(tables::npm_packages.size(), 4u);
  for (const auto& [directory, agent] : tables::npm_packages) {
    std::string script = "/lib/node_modules/" + std::string(directory) + "/bin/start.js";
    EXPECT_EQ(agent_of_package_path(script), agent) << directory;
    EXPECT_EQ(agent_text({script}), agent) << directory;
  }
  EXPECT_EQ(tables::launcher_programs.size() + tables::shell_programs.size(), 12u);
  const std::string codex = "/lib/node_modules/@openai/codex/bin/codex.js";
  for (std::string_view launcher : tables::launcher_programs) {
    EXPECT_EQ(agent_text({std::string(launcher), codex}), "codex") << launcher;
    EXPECT_EQ(agent_text({std::string(launcher) + ".exe", "-c", codex}), "codex") << launcher;
  }
  for (std::string_view shell : tables::shell_programs) {
    EXPECT_EQ(agent_text({std::string(shell), codex}), "codex") << shell;
    EXPECT_EQ(agent_text({std::string(shell), "-ec", codex}), "none") << shell;
  }
  EXPECT_EQ(agent_text({"perl", codex}), "none");
  EXPECT_EQ(tables::print_flags.size(), 6u);
  for (std::string_view flag : tables::print_flags) {
    EXPECT_FALSE(is_interactive_session(Argv{"claude", std::string(flag)})) << flag;
  }
  EXPECT_EQ(tables::stem_extensions.size(), 8u);
  EXPECT_EQ(tables::name_extensions.size(), 5u);
  EXPECT_EQ(tables::script_extensions.size(), 3u);
}

TEST(LaunchSplit, SplitsAtJavaScriptWhiteSpace) {
  std::vector<std::string> words;
  size_t last = 0;
  const std::string text = "claude\u3000--model  opus\u0085x";
  for (const Match& m : launch_split_pattern.find_all(text)) {
    words.emplace_back(text.substr(last, m.start() - last));
    last = m.end();
  }
  words.emplace_back(text.substr(last));
  EXPECT_EQ(words, (std::vector<std::string>{"claude", "--model", "opus\u0085x"}));
}

}  // namespace
}  // namespace mossbank::screen
