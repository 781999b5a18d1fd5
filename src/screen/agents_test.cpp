#include "screen/agents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "screen/agent_profiles.h"

namespace mossbank::screen {
namespace {

using Argv = std::vector<std::string>;

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
      {"/opt/cli.mjs", "cli", "cli.mjs"},  // only the stem cuts .mjs
      {"/opt/tool.py", "tool", "tool.py"},
      {"/opt/x.JS", "x", "x"},
      {"run.cmd.exe", "run.cmd", "run.cmd"},  // at most one extension
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

// The program that starts the row's agent by itself, or none.
std::optional<std::string> program_of(const AgentProfile& row) {
  if (row.names_itself) return std::string(row.name);
  if (!row.aliases.empty()) return std::string(row.aliases.front());
  return std::nullopt;
}

bool contains(std::span<const std::string_view> names, std::string_view word) {
  return std::find(names.begin(), names.end(), word) != names.end();
}

// Every entry of every row has its effect.
TEST(AgentTables, NonSessionCommands) {
  for (const AgentProfile& row : agent_profiles()) {
    const std::optional<std::string> program = program_of(row);
    for (std::string_view w : agent_lists::non_session_commands) {
      EXPECT_TRUE(is_non_session_command(row.name, w)) << row.name << " " << w;
      if (program && !row.session_rules) {
        EXPECT_EQ(agent_text({*program, "--model=x", std::string(w)}), "none")
            << row.name << " " << w;
      }
    }
    for (std::string_view w : row.non_session_commands) {
      EXPECT_TRUE(is_non_session_command(row.name, w)) << row.name << " " << w;
      if (program) {
        EXPECT_EQ(agent_text({*program, std::string(w)}), "none") << row.name << " " << w;
      }
      // Another agent's word is a prompt, unless it is everyone's.
      EXPECT_EQ(is_non_session_command("kilo", w), contains(agent_lists::non_session_commands, w))
          << w;
    }
  }
  EXPECT_TRUE(is_non_session_command("codex", "cloud"));
  EXPECT_FALSE(is_non_session_command("claude", "cloud"));
  // "--" options are compared by name.
  EXPECT_TRUE(is_non_session_command("claude", "--chrome-native-host=1"));
  EXPECT_TRUE(is_non_session_command("kilo", "--version=2"));
  EXPECT_FALSE(is_non_session_command("kilo", "-v=2"));
  EXPECT_FALSE(is_non_session_command("kilo", "--"));
}

TEST(AgentTables, ValueOptions) {
  for (const AgentProfile& row : agent_profiles()) {
    const std::span<const std::string_view> options =
        row.value_options.empty()
            ? std::span<const std::string_view>(agent_lists::default_value_options)
            : row.value_options;
    for (std::string_view o : options) {
      EXPECT_TRUE(option_takes_value(row.name, o)) << row.name << " " << o;
      // The option's value is never taken for a command word (an
      // interactive prompt ends the search instead).
      std::optional<std::string> word =
          first_command_word(row.name, Argv{std::string(o), "mcp", "prompt"});
      EXPECT_EQ(word.value_or("none"), contains(row.prompt_options, o) ? "none" : "prompt")
          << row.name << " " << o;
    }
  }
  EXPECT_TRUE(option_takes_value("kilo", "--model"));
  EXPECT_FALSE(option_takes_value("kilo", "--effort"));
  EXPECT_TRUE(option_takes_value("claude", "--effort"));
  EXPECT_EQ(first_command_word("antigravity", Argv{"-i", "mcp"}), std::nullopt);
}

TEST(AgentTables, SessionRules) {
  bool any = false;
  for (const AgentProfile& row : agent_profiles()) {
    const SessionRules* rules = session_rules(row.name);
    EXPECT_EQ(rules, row.session_rules) << row.name;
    if (rules == nullptr) continue;
    any = true;
    const std::optional<std::string> program = program_of(row);
    ASSERT_TRUE(program) << row.name;
    const std::string first_word = rules->session_commands.empty() ? "work" : "chat";
    EXPECT_TRUE(is_interactive_session(Argv{*program})) << row.name;
    for (std::string_view o : rules->one_shot_options) {
      EXPECT_FALSE(is_interactive_session(Argv{*program, std::string(o)})) << row.name << " " << o;
    }
    for (std::string_view o : rules->value_options) {
      // The value is consumed: "help" is not the first word.
      EXPECT_EQ(is_interactive_session(Argv{*program, std::string(o), "help", first_word}),
                !contains(rules->one_shot_options, o))
          << row.name << " " << o;
    }
    for (std::string_view w : rules->non_session_commands) {
      EXPECT_FALSE(is_interactive_session(Argv{*program, std::string(w)})) << row.name << " " << w;
    }
    for (std::string_view w : rules->session_commands) {
      EXPECT_TRUE(is_interactive_session(Argv{*program, std::string(w)})) << row.name << " " << w;
      EXPECT_FALSE(is_interactive_session(Argv{*program, "work"})) << row.name;
    }
    for (std::string_view f : agent_lists::version_help_flags) {
      EXPECT_FALSE(is_interactive_session(Argv{*program, std::string(f)})) << row.name << " " << f;
    }
  }
  EXPECT_TRUE(any);
  EXPECT_NE(session_rules("hermes"), nullptr);
  EXPECT_EQ(session_rules("claude"), nullptr);
  EXPECT_EQ(session_rules("kilo"), nullptr);
  EXPECT_EQ(session_rules("Hermes"), nullptr);
}

TEST(AgentTables, ProgramsLaunchersAndPackages) {
  for (const AgentProfile& row : agent_profiles()) {
    if (row.names_itself) {
      EXPECT_EQ(known_agent_of_program("/bin/" + std::string(row.name) + ".exe"), row.name);
    } else {
      EXPECT_EQ(known_agent_of_program("/bin/" + std::string(row.name)), std::nullopt) << row.name;
    }
    for (std::string_view alias : row.aliases) {
      EXPECT_EQ(known_agent_of_program("/bin/" + std::string(alias)), row.name) << alias;
      EXPECT_EQ(agent_name_of_program(alias), row.name) << alias;
    }
    if (row.npm_package.empty()) continue;
    std::string script = "/lib/node_modules/" + std::string(row.npm_package) + "/bin/start.js";
    EXPECT_EQ(agent_of_package_path(script), row.name) << row.npm_package;
    EXPECT_EQ(agent_text({script}), row.name) << row.npm_package;
  }
  const std::string codex = "/lib/node_modules/@openai/codex/bin/codex.js";
  for (std::string_view launcher : agent_lists::launcher_programs) {
    EXPECT_EQ(agent_text({std::string(launcher), codex}), "codex") << launcher;
    EXPECT_EQ(agent_text({std::string(launcher) + ".exe", "-c", codex}), "codex") << launcher;
  }
  for (std::string_view shell : agent_lists::shell_programs) {
    EXPECT_EQ(agent_text({std::string(shell), codex}), "codex") << shell;
    EXPECT_EQ(agent_text({std::string(shell), "-ec", codex}), "none") << shell;
  }
  EXPECT_EQ(agent_text({"perl", codex}), "none");
  for (std::string_view flag : agent_lists::print_flags) {
    EXPECT_FALSE(is_interactive_session(Argv{"claude", std::string(flag)})) << flag;
  }
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
