#include "run/start/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

using Args = std::vector<std::string>;

std::string describe(const OptionScan& scan) {
  if (std::holds_alternative<RunHelp>(scan)) return "help";
  if (auto* e = std::get_if<Status>(&scan)) return "error: " + e->text;
  const RunOptions& o = std::get<RunOptions>(scan);
  std::string out = "program=" + o.program;
  for (const auto& a : o.args) out += " [" + a + "]";
  if (o.vocation_id) out += " vocation=" + *o.vocation_id;
  if (o.allow_plain) out += " plain";
  return out;
}

TEST(ScanOptions, Cases) {
  const struct {
    Args args;
    std::string expected;
  } cases[] = {
      {{}, "program=claude"},
      {{"codex", "--model", "m"}, "program=codex [--model] [m]"},
      {{"claude", "-x"}, "program=claude [-x]"},
      {{"-h"}, "help"},
      {{"--help", "claude"}, "help"},
      {{"claude", "--help"}, "program=claude [--help]"},
      {{"-x", "claude"}, "error: Unknown option -x. Put the agent's own flags after its name."},
      {{"--vocation"}, "error: --vocation needs a vocation id, e.g. --vocation researcher"},
      {{"--vocation", "-x"}, "error: --vocation needs a vocation id, e.g. --vocation researcher"},
      {{"--vocation", ""}, "error: --vocation needs a vocation id, e.g. --vocation researcher"},
      {{"-v"}, "error: -v needs a vocation id, e.g. --vocation researcher"},
      {{"--vocation", "--help"}, "help"},
      {{"-v", "-h", "claude"}, "help"},
      {{"--vocation="}, "error: --vocation needs a vocation id, e.g. --vocation researcher"},
      {{"--vocation=a=b", "claude"}, "program=claude vocation=a=b"},
      {{"-v", "one", "--vocation", "two", "codex"}, "program=codex vocation=two"},
      {{"--allow-plain", "--", "-weird", "x"}, "program=-weird [x] plain"},
      {{"--"}, "program=claude"},
      {{"--", "--"}, "program=--"},
      {{"--vocation", "researcher", "claude", "-v", "x"},
       "program=claude [-v] [x] vocation=researcher"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe(scan_options(c.args)), c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(AgentArgs, PromptGoesFirstForClaudeOnly) {
  const std::optional<std::string> prompt = "Be helpful.";
  const Args args = {"--model", "m"};
  const Args with_prompt = {"--append-system-prompt", "Be helpful.", "--model", "m"};
  EXPECT_EQ(agent_args("claude", args, prompt), with_prompt);
  EXPECT_EQ(agent_args("/opt/bin/Claude.EXE", args, prompt), with_prompt);
  EXPECT_EQ(agent_args("C:\\tools\\claude.cmd", args, prompt), with_prompt);
  EXPECT_EQ(agent_args("codex", args, prompt), args);
  EXPECT_EQ(agent_args("claude-code", args, prompt), args);
  EXPECT_EQ(agent_args("claude", args, std::nullopt), args);
}

TEST(FindProgram, SearchesPathInOrderForRegularFiles) {
  testing::ScratchDir dir;
  testing::write_file(dir / "a/tool", "", 0755);
  testing::write_file(dir / "b/tool", "", 0755);
  testing::write_file(dir / "b/plain", "", 0644);  // found although not executable
  mkdir((dir / "a/sub").c_str(), 0755);
  symlink((dir / "b/tool").c_str(), (dir / "a/link").c_str());
  symlink((dir / "missing").c_str(), (dir / "a/dangling").c_str());
  const std::string path = "::" + (dir / "nowhere") + ":" + (dir / "a") + "/:" + (dir / "b");

  EXPECT_EQ(find_program("tool", path), dir / "a/tool");
  EXPECT_EQ(find_program("plain", path), dir / "b/plain");
  EXPECT_EQ(find_program("link", path), dir / "a/link");
  EXPECT_EQ(find_program("sub", path), std::nullopt);
  EXPECT_EQ(find_program("dangling", path), std::nullopt);
  EXPECT_EQ(find_program("tool", ""), std::nullopt);
  // With a "/" the text is the path: no search, and a folder is no program.
  EXPECT_EQ(find_program(dir / "b/tool", ""), dir / "b/tool");
  EXPECT_EQ(find_program(dir / "a/sub", path), std::nullopt);
  EXPECT_EQ(find_program("a/tool", dir / "a"), std::nullopt);
}

}  // namespace
}  // namespace mossbank::run
