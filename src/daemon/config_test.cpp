#include "daemon/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace mossbank {
namespace {

namespace fs = std::filesystem;

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/mossbank-config-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { fs::remove_all(root_); }

  void write_config(const std::string& text, mode_t mode = 0600) {
    std::ofstream(root_ + "/config.json", std::ios::binary) << text;
    chmod((root_ + "/config.json").c_str(), mode);
  }
  std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  mode_t mode_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  std::string root_;
};

const std::string kToken = "0123456789abcdef";  // exactly 16 characters

struct ReadCase {
  std::string text;
  bool valid;
  uint16_t port = 0;
  bool has_hook = false;
};

TEST_F(ConfigTest, ReadConfigValidityRules) {
  const std::string t = "\"token\":\"" + kToken + "\"";
  const std::string emoji8 = "\"token\":\"😀😀😀😀😀😀😀😀\"";  // 8 astral characters count 16
  const ReadCase cases[] = {
      {"{\"port\":4827," + t + "}", true, 4827},
      {"{\"port\":65535," + t + "}", true, 65535},
      {"{\"port\":1," + t + "}", true, 1},
      {"{\"port\":4827.0," + t + "}", true, 4827},
      {"{\"port\":4827.5," + t + "}", false},
      {"{\"port\":\"4827\"," + t + "}", false},
      {"{\"port\":0," + t + "}", false},
      {"{\"port\":65536," + t + "}", false},
      {"{\"port\":-1," + t + "}", false},
      {"{" + t + "}", false},
      {"{\"port\":4827,\"token\":\"0123456789abcde\"}", false},  // 15 characters
      {"{\"port\":4827,\"token\":16}", false},
      {"{\"port\":4827," + emoji8 + "}", true, 4827},
      {"{\"port\":4827}", false},
      {"[4827]", false},
      {"not json", false},
      {"", false},
      {"{\"port\":4827," + t + ",\"hookToken\":\"fedcba9876543210\"}", true, 4827, true},
      {"{\"port\":4827," + t + ",\"hookToken\":\"" + kToken + "\"}", true, 4827, false},
      {"{\"port\":4827," + t + ",\"hookToken\":\"short\"}", true, 4827, false},
      {"{\"port\":4827," + t + ",\"hookToken\":null}", true, 4827, false},
      {"{\"port\":4827," + t + ",\"other\":[1,2]}", true, 4827},
      // invalid UTF-8 elsewhere in the file is replaced, not fatal
      {"{\"port\":4827," + t + ",\"x\":\"\xFF\"}", true, 4827},
  };
  for (const auto& c : cases) {
    write_config(c.text);
    auto cfg = read_config(root_);
    ASSERT_EQ(cfg.has_value(), c.valid) << c.text;
    if (!cfg) continue;
    EXPECT_EQ(cfg->port, c.port) << c.text;
    EXPECT_EQ(cfg->hook_token.has_value(), c.has_hook) << c.text;
  }
}

TEST_F(ConfigTest, MissingFileReadsAsNone) { EXPECT_FALSE(read_config(root_ + "/absent")); }

TEST_F(ConfigTest, EnsureCreatesTheHomeAndTheFiveLineFile) {
  std::string home = root_ + "/a/b/home";
  auto result = ensure_config(home, true);
  ASSERT_TRUE(result.ok()) << result.status().text;
  const DaemonConfig& cfg = *result;
  EXPECT_EQ(cfg.port, 4827);
  ASSERT_TRUE(cfg.hook_token.has_value());
  EXPECT_NE(cfg.token, *cfg.hook_token);
  std::regex hex48("[0-9a-f]{48}");
  EXPECT_TRUE(std::regex_match(cfg.token, hex48));
  EXPECT_TRUE(std::regex_match(*cfg.hook_token, hex48));

  std::string path = home + "/config.json";
  EXPECT_EQ(read_file(path), "{\n  \"port\": 4827,\n  \"token\": \"" + cfg.token +
                                 "\",\n  \"hookToken\": \"" + *cfg.hook_token + "\"\n}\n");
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(home) & 0077, 0u);  // private home

  // No temporary file is left behind.
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(home)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);

  auto again = read_config(home);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->token, cfg.token);
}

TEST_F(ConfigTest, EnsureLeavesAValidFileAloneButTightensItsMode) {
  std::string text = "{ \"port\": 5000, \"token\": \"" + kToken + "\", \"extra\": true }";
  write_config(text, 0644);
  EXPECT_TRUE(read_config(root_));
  EXPECT_EQ(mode_of(root_ + "/config.json"), 0644u);  // reading does not tighten

  auto result = ensure_config(root_, false);
  ASSERT_TRUE(result.ok()) << result.status().text;
  EXPECT_EQ(result->port, 5000);
  EXPECT_EQ(read_file(root_ + "/config.json"), text);
  EXPECT_EQ(mode_of(root_ + "/config.json"), 0600u);
}

TEST_F(ConfigTest, EnsureReplacesAnInvalidFile) {
  write_config("{\"port\":0,\"token\":\"" + kToken + "\"}");
  auto result = ensure_config(root_, false);
  ASSERT_TRUE(result.ok()) << result.status().text;
  EXPECT_EQ(result->port, 4827);
  EXPECT_NE(result->token, kToken);
  EXPECT_EQ(read_config(root_)->token, result->token);
}

TEST_F(ConfigTest, EnsureReportsAnUnusableHome) {
  std::ofstream(root_ + "/file") << "x";
  auto result = ensure_config(root_ + "/file/home", false);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status().code, ENOTDIR);  // a file where a folder has to be
  EXPECT_EQ(result.status().text, std::strerror(ENOTDIR));
}

TEST_F(ConfigTest, ConcurrentCreatorsAgreeOnTheTokens) {
  constexpr int kProcesses = 20;
  std::string home = root_ + "/shared";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      auto result = ensure_config(home, false);
      std::string line = result.ok() ? result->token + "\n" : "error\n";
      ssize_t n = write(fds[1], line.data(), line.size());
      _exit(n == static_cast<ssize_t>(line.size()) ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(fds[1]);
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  std::set<std::string> tokens;
  std::istringstream lines(all);
  for (std::string line; std::getline(lines, line);) tokens.insert(line);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(*tokens.begin(), read_config(home)->token);
}

}  // namespace
}  // namespace mossbank
