#include "run/session/pty_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>

#include "platform/pty_spawn.h"

namespace mossbank::run {

namespace {

class PtyAgent final : public AgentProcess {
 public:
  PtyAgent(pid_t pid, std::shared_ptr<PtyMaster> master)
      : pid_(pid > 0 ? static_cast<uint32_t>(pid) : 0), master_(std::move(master)) {}

  std::optional<uint32_t> process_id() const override {
    if (pid_ == 0 || reaped_.load()) return std::nullopt;
    return pid_;
  }

  void resize(uint16_t cols, uint16_t rows) override {
    std::lock_guard lock(master_mutex_);
    platform::set_terminal_size(master_->fd.get(), cols, rows);
  }

  Status kill(bool hard) override { return send_signal(hard ? SIGKILL : SIGHUP); }
  Status interrupt() override { return send_signal(SIGINT); }

  int32_t wait() override {
    std::lock_guard lock(child_mutex_);
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(static_cast<pid_t>(pid_), &status, 0);
    } while (r < 0 && errno == EINTR);
    reaped_.store(true);
    if (r < 0) return 1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
      const int sig = WTERMSIG(status);
      if (sig > 0 && sig < 64 && (sent_.load() & (uint64_t{1} << sig)) != 0) return 0;
      return 128 + sig;
    }
    return 1;
  }

  Status kill_group(bool force) override {
    const int sig = force ? SIGKILL : SIGTERM;
    return signal_child(-static_cast<pid_t>(pid_), sig);
  }

 private:
  Status send_signal(int sig) { return signal_child(static_cast<pid_t>(pid_), sig); }
  // `target` is the child's pid, or its negation for its process group.
  Status signal_child(pid_t target, int sig) {
    if (pid_ == 0 || reaped_.load()) return ok_status();
    mark_sent(sig);
    if (::kill(target, sig) != 0) return os_failure(errno);
    return ok_status();
  }
  void mark_sent(int sig) { sent_.fetch_or(uint64_t{1} << sig); }

  const uint32_t pid_;
  std::atomic<bool> reaped_{false};
  std::atomic<uint64_t> sent_{0};  // signals this handle sent, by number
  std::mutex master_mutex_;
  std::shared_ptr<PtyMaster> master_;
  std::mutex child_mutex_;
};

// The user's login shell from the password database, when it can run.
std::optional<std::string> login_shell() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
      found->pw_shell == nullptr || *found->pw_shell == '\0')
    return std::nullopt;
  if (access(found->pw_shell, X_OK) != 0) return std::nullopt;
  return std::string(found->pw_shell);
}

}  // namespace

AgentInput::AgentInput(std::shared_ptr<PtyMaster> master) : master_(std::move(master)) {
  const int fd = master_->fd.get();
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool AgentInput::write(std::string_view bytes, int cancel_fd) {
  std::lock_guard lock(mutex_);
  const int fd = master_->fd.get();
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {cancel_fd, POLLIN, 0}};
    const int ready = ::poll(fds, cancel_fd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (cancel_fd >= 0 && fds[1].revents != 0) return false;
    // Nobody holds the agent's side any more: nothing will ever read.
    if ((fds[0].revents & POLLOUT) == 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
      return false;
  }
  return true;
}

std::vector<std::string> agent_environment(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::map<std::string, std::string> sorted;
  for (const auto& [name, value] : pairs) sorted[name] = value;  // the later wins
  if (!sorted.contains("SHELL")) {
    if (auto shell = login_shell()) sorted["SHELL"] = *shell;
  }
  std::vector<std::string> out;
  out.reserve(sorted.size());
  for (const auto& [name, value] : sorted) out.push_back(name + "=" + value);
  return out;
}

Result<StartedAgent> start_agent(const AgentCommand& command) {
  Result<platform::SpawnedPty> spawned =
      platform::spawn_in_pty(command.path, command.argv, agent_environment(command.environment),
                             command.cwd, command.cols, command.rows);
  if (!spawned) return spawned.status();
  StartedAgent started;
  started.master = std::make_shared<PtyMaster>();
  started.master->fd = std::move(spawned->master);
  started.process = std::make_shared<PtyAgent>(spawned->pid, started.master);
  started.input = std::make_shared<AgentInput>(started.master);
  return started;
}

}  // namespace mossbank::run
