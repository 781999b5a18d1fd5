#include "run/start/upgrade.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

using Args = std::vector<std::string>;

TEST(RustCliSwitch, Values) {
  const struct {
    std::optional<std::string> value;
    bool on;
  } cases[] = {
      {std::nullopt, true}, {"", true},          {" 1 ", true},       {"on", true},
      {"all", true},        {"true", true},      {"0", false},        {"no", false},
      {"off", false},       {" false\n", false}, {"hooks,run", true}, {"hooks, run ", true},
      {"hooks", false},     {"Run", false},      {"ON", false},       {"runs", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rust_cli_switch_on(c.value), c.on) << c.value.value_or("(unset)");
  }
}

TEST(HandoverCommandLine, OptionsThenTheAgent) {
  RunOptions options;
  options.program = "claude";
  EXPECT_EQ(handover_command_line(options, {"--resume", "S"}),
            (Args{"run", "--", "claude", "--resume", "S"}));
  options.allow_plain = true;
  options.vocation_id = "planner";
  options.program = "-odd";
  EXPECT_EQ(handover_command_line(options, {}),
            (Args{"run", "--allow-plain", "--vocation=planner", "--", "-odd"}));
}

TEST(AppBundleRoot, Levels) {
  const struct {
    const char* path;
    std::optional<std::string> root;
  } cases[] = {
      {"/Applications/Mossbank.app/Contents/Resources/cli/bin/mossbank", "/Applications"},
      {"/A/M.app/contents/RESOURCES/cli/bin/mossbank", "/A"},
      {"/opt/mossbank/resources/cli/bin/mossbank", "/opt/mossbank"},  // no "contents" above
      {"/opt/mossbank/cli/bin/mossbank", "/opt/mossbank"},
      {"/x/y/z", "/"},
      {"/y/z", std::nullopt},
      {"/Contents/Resources/cli/bin/mossbank", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(app_bundle_root(c.path), c.root) << c.path;
}

TEST(NodeCliCommand, CjsNeedsTheApplicationJsNeedsNode) {
  const std::string exe = "/A/M.app/Contents/Resources/cli/bin/mossbank";
  const Args list = {"run", "--", "claude"};
  auto with = [](std::set<std::string> files) {
    return [files](const std::string& p) { return files.count(p) > 0; };
  };
  const std::string cjs = "/A/M.app/Contents/Resources/cli/mossbank.cjs";
  const std::string js = "/A/M.app/Contents/Resources/cli/mossbank.js";

  auto mac = node_cli_command(exe, list, with({cjs, js, "/A/M.app/Contents/MacOS/Mossbank"}));
  ASSERT_TRUE(mac);
  EXPECT_EQ(mac->program, "/A/M.app/Contents/MacOS/Mossbank");
  EXPECT_EQ(mac->args, (Args{cjs, "run", "--", "claude"}));
  EXPECT_TRUE(mac->run_as_node);

  auto win = node_cli_command(exe, list, with({cjs, "/A/M.app/Contents/Mossbank.exe"}));
  ASSERT_TRUE(win);
  EXPECT_EQ(win->program, "/A/M.app/Contents/Mossbank.exe");

  EXPECT_EQ(node_cli_command(exe, list, with({cjs, js})), std::nullopt);  // .js not tried

  auto node = node_cli_command(exe, list, with({js}));
  ASSERT_TRUE(node);
  EXPECT_EQ(node->program, "node");
  EXPECT_EQ(node->args, (Args{js, "run", "--", "claude"}));
  EXPECT_FALSE(node->run_as_node);

  EXPECT_EQ(node_cli_command(exe, list, with({})), std::nullopt);
}

// An installed bundle: this executable, a native tool beside it, and
// rust-cli.json in the home directory.
class Candidates : public ::testing::Test {
 protected:
  void SetUp() override {
    own_ = testing::write_file(dir_ / "Apps/M.app/Contents/Resources/cli/bin/mossbank", "", 0755);
    native_ =
        testing::write_file(dir_ / "Apps/Native.app/Contents/Resources/cli/bin/mossbank", "", 0755);
    input_.home_dir = dir_ / "home";
    input_.own_executable = own_;
    input_.options.program = "claude";
    input_.resume_args = {"--resume", "S"};
    input_.run_id = "run-1";
    input_.pid = 4321;
  }

  // rust-cli.json naming `binary`, checked at the file's time plus `ms_later`.
  void rust_cli(const std::string& binary, double ms_later = 0,
                const std::string& extra = "\"fallback\":null,\"scopes\":[\"hooks\",\"run\"]") {
    const double checked = modified_ms(binary).value_or(0) + ms_later;
    char number[64];
    std::snprintf(number, sizeof number, "%.17g", checked);
    testing::write_file(input_.home_dir + "/rust-cli.json",
                        "{\"binary\":\"" + binary + "\",\"checkedAt\":" + number +
                            (extra.empty() ? "" : "," + extra) + "}");
  }

  std::vector<std::string> programs() {
    std::vector<std::string> out;
    for (const auto& c : handover_candidates(input_)) out.push_back(c.program);
    return out;
  }

  testing::ScratchDir dir_;
  std::string own_, native_;
  HandoverInput input_;
};

TEST_F(Candidates, OwnPathWithoutRustCliJson) {
  EXPECT_EQ(programs(), Args{own_});
  const auto candidates = handover_candidates(input_);
  EXPECT_TRUE(candidates[0].native);
  EXPECT_EQ(candidates[0].args, (Args{"run", "--", "claude", "--resume", "S"}));
}

TEST_F(Candidates, NamedBinaryWhenCheckedAfterItChanged) {
  rust_cli(native_, 1);
  EXPECT_EQ(programs(), Args{native_});
  rust_cli(native_, 0);
  EXPECT_EQ(programs(), Args{native_});
}

TEST_F(Candidates, StaleCheckOrFallbackOrScopesGiveNoNative) {
  rust_cli(native_, -1);
  EXPECT_EQ(programs(), Args{});
  rust_cli(native_, 0, "\"fallback\":\"node\",\"scopes\":[\"run\"]");
  EXPECT_EQ(programs(), Args{});
  rust_cli(native_, 0, "\"fallback\":false,\"scopes\":[\"run\"]");
  EXPECT_EQ(programs(), Args{});
  rust_cli(native_, 0, "\"scopes\":[\"run\"]");
  EXPECT_EQ(programs(), Args{});
  rust_cli(native_, 0, "\"fallback\":null,\"scopes\":[\"hooks\"]");
  EXPECT_EQ(programs(), Args{});
  rust_cli(native_, 0, "\"fallback\":null,\"scopes\":\"run\"");
  EXPECT_EQ(programs(), Args{});
  chmod(native_.c_str(), 0644);
  rust_cli(native_, 0);
  EXPECT_EQ(programs(), Args{});
}

TEST_F(Candidates, BinaryOutOfPlaceFallsBackToTheOwnPath) {
  const std::string elsewhere =
      testing::write_file(dir_ / "Other/X.app/Contents/Resources/cli/bin/mossbank", "", 0755);
  const std::string wrong_name =
      testing::write_file(dir_ / "Apps/M.app/Contents/Resources/cli/bin/tool", "", 0755);
  const std::string wrong_dir =
      testing::write_file(dir_ / "Apps/M.app/Contents/Resources/cli/sbin/mossbank", "", 0755);
  for (const std::string& binary :
       {elsewhere, wrong_name, wrong_dir,
        dir_ / "Apps/Native.app/Contents/Resources/cli/bin/../bin/mossbank",
        std::string("cli/bin/mossbank")}) {
    rust_cli(elsewhere, 0, "\"fallback\":null,\"scopes\":[\"run\"],\"binary\":\"" + binary + "\"");
    EXPECT_EQ(programs(), Args{own_}) << binary;
  }
  testing::write_file(input_.home_dir + "/rust-cli.json", "{\"binary\":7}");
  EXPECT_EQ(programs(), Args{own_});
  testing::write_file(input_.home_dir + "/rust-cli.json", "not json");
  EXPECT_EQ(programs(), Args{own_});
}

TEST_F(Candidates, SwitchOffOrUnknownExecutableLeavesNode) {
  testing::write_file(dir_ / "Apps/M.app/Contents/Resources/cli/mossbank.js", "");
  input_.environment = {{"MOSSBANK_RUST_CLI", "hooks"}};
  EXPECT_EQ(programs(), Args{"node"});
  input_.environment = {{"MOSSBANK_RUST_CLI", "hooks,run"}};
  EXPECT_EQ(programs(), (Args{own_, "node"}));
  input_.own_executable.reset();
  EXPECT_EQ(programs(), Args{});
}

TEST_F(Candidates, TheSuccessorsEnvironment) {
  input_.environment = {{"PATH", "/bin"},
                        {"ELECTRON_RUN_AS_NODE", "0"},
                        {"MOSSBANK_RUST_HANDOVER", "1"},
                        {"MOSSBANK_AUTO_RUN", "1"},
                        {"MOSSBANK_RUN_UPGRADE_ID", "old"},
                        {"MOSSBANK_RUN_AS", "kept"}};
  HandoverCandidate native;
  native.native = true;
  EXPECT_EQ(handover_environment(input_, native), (EnvPairs{{"PATH", "/bin"},
                                                            {"MOSSBANK_RUN_AS", "kept"},
                                                            {"MOSSBANK_RUN_UPGRADE_ID", "run-1"}}));
  HandoverCandidate app;
  app.run_as_node = true;
  EXPECT_EQ(handover_environment(input_, app), (EnvPairs{{"PATH", "/bin"},
                                                         {"MOSSBANK_RUN_AS", "kept"},
                                                         {"MOSSBANK_RUN_UPGRADE_ID", "run-1"},
                                                         {"ELECTRON_RUN_AS_NODE", "1"},
                                                         {"MOSSBANK_RUST_HANDOVER", "4321"}}));
  HandoverCandidate node;
  EXPECT_EQ(handover_environment(input_, node).back(),
            (std::pair<std::string, std::string>{"MOSSBANK_RUST_HANDOVER", "4321"}));
}

}  // namespace
}  // namespace mossbank::run
