#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace mossbank::platform {
namespace {

std::string scratch_file(const char* text, mode_t mode) {
  char tmpl[] = "/tmp/mossbank-process-XXXXXX";
  int fd = mkstemp(tmpl);
  EXPECT_GE(fd, 0);
  close(fd);
  std::ofstream(tmpl) << text;
  chmod(tmpl, mode);
  return tmpl;
}

// Starts the program with stdout on a pipe; its output and exit status.
std::pair<std::string, int> run(const std::string& path, std::vector<std::string> argv,
                                std::vector<std::string> envp, std::string cwd = "") {
  PipeEnds out;
  EXPECT_EQ(make_pipe(out), 0);
  SpawnRequest request;
  request.path = path;
  request.argv = std::move(argv);
  request.envp = std::move(envp);
  request.cwd = std::move(cwd);
  request.stdout_fd = out.write;
  Spawned child = spawn_with_default_signals(request);
  close(out.write);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out.read, buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  close(out.read);
  if (child.pid < 0) return {text, -child.error};
  int status = 0;
  waitpid(child.pid, &status, 0);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : 1000};
}

TEST(ForkExec, AFileWithoutAShebangLineRunsUnderTheShell) {
  const std::string path = scratch_file("echo \"sh $# $1\"\nexit 3\n", 0755);
  EXPECT_EQ(run(path, {path, "a b"}, {"PATH=/usr/bin:/bin"}),
            std::make_pair(std::string("sh 1 a b\n"), 3));
  unlink(path.c_str());
}

TEST(ForkExec, FailuresComeBackAsTheErrno) {
  const std::string not_executable = scratch_file("#!/bin/sh\n", 0644);
  EXPECT_EQ(run(not_executable, {not_executable}, {}).second, -EACCES);
  EXPECT_EQ(run("/nonexistent/program", {"x"}, {}).second, -ENOENT);
  EXPECT_EQ(run("/bin/sh", {"sh", "-c", "true"}, {}, "/nonexistent/dir").second, -ENOENT);
  unlink(not_executable.c_str());
  // No child is left behind for any of them.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace mossbank::platform
