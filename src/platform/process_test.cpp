#include "platform/process.h"
#include "platform/pty_spawn.h"

#include <fcntl.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
  Result<PipeEnds> out = make_pipe();
  EXPECT_TRUE(out.ok()) << out.status().text;
  if (!out) return {"", 1000};
  SpawnRequest request;
  request.path = path;
  request.argv = std::move(argv);
  request.envp = std::move(envp);
  request.cwd = std::move(cwd);
  request.stdout_fd = out->write.get();
  Result<pid_t> child = spawn_with_default_signals(request);
  out->write.reset();
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out->read.get(), buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  if (!child) {
    EXPECT_EQ(child.status().text, std::strerror(child.status().code));
    return {text, -child.status().code};
  }
  int status = 0;
  waitpid(*child, &status, 0);
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

// The lowest descriptor free now: a failed start that leaks one moves it.
int lowest_free_fd() {
  const int fd = dup(0);
  close(fd);
  return fd;
}

TEST(PipeAndPty, EndsAreOwnedAndCloseOnExec) {
  const int free_before = lowest_free_fd();
  {
    Result<PipeEnds> ends = make_pipe();
    ASSERT_TRUE(ends.ok()) << ends.status().text;
    for (int fd : {ends->read.get(), ends->write.get()})
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << fd;
  }
  EXPECT_EQ(lowest_free_fd(), free_before);
}

TEST(PipeAndPty, AFailedPtyStartIsTheErrnoAndLeavesNoDescriptor) {
  const int free_before = lowest_free_fd();
  Result<SpawnedPty> spawned = spawn_in_pty("/nonexistent/program", {"x"}, {}, "", 80, 24);
  ASSERT_FALSE(spawned.ok());
  EXPECT_EQ(spawned.status().code, ENOENT);
  EXPECT_EQ(spawned.status().text, std::strerror(ENOENT));
  EXPECT_EQ(lowest_free_fd(), free_before);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(PipeAndPty, APtyChildRunsAndItsMasterIsCloseOnExec) {
  Result<SpawnedPty> spawned = spawn_in_pty("/bin/sh", {"sh", "-c", "exit 4"}, {}, "", 80, 24);
  ASSERT_TRUE(spawned.ok()) << spawned.status().text;
  EXPECT_NE(fcntl(spawned->master.get(), F_GETFD) & FD_CLOEXEC, 0);
  int status = 0;
  ASSERT_EQ(waitpid(spawned->pid, &status, 0), spawned->pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4);
}

TEST(SetTerminalSize, ANonTerminalIsAFailure) {
  Result<PipeEnds> ends = make_pipe();
  ASSERT_TRUE(ends.ok());
  const Status s = set_terminal_size(ends->read.get(), 80, 24);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code, ENOTTY);
}

}  // namespace
}  // namespace mossbank::platform
