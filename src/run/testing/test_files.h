// Scratch folders, files and captured screens for the run module's tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace mossbank::run::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mossbank-run-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes the file (and its missing folders) with the given mode.
inline std::string write_file(const std::string& path, const std::string& text,
                              mode_t mode = 0644) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  chmod(path.c_str(), mode);
  return path;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The bytes of a screen captured from a real agent, by its path under the
// screen module's testdata/agents (such as "claude/idle-80x24.raw").
inline std::string agent_capture(const std::string& path) {
  std::string bytes =
      read_text(std::string(MOSSBANK_SOURCE_DIR) + "/src/screen/testdata/agents/" + path);
  EXPECT_FALSE(bytes.empty()) << path;
  return bytes;
}

}  // namespace mossbank::run::testing
