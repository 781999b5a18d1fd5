#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace mossbank::platform {

namespace {

constexpr char kShell[] = "/bin/sh";

[[noreturn]] void report_and_exit(int report_fd, int err) {
  ssize_t ignored = write(report_fd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

std::vector<char*> c_strings(const std::vector<std::string>& parts) {
  std::vector<char*> out;
  out.reserve(parts.size() + 1);
  for (const std::string& s : parts) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Standard streams for spawn_with_default_signals' child.
int set_standard_streams(const void* context, int /*report_fd*/) {
  const int* wanted = static_cast<const int*>(context);
  for (int target = 0; target < 3; ++target) {
    if (wanted[target] < 0) continue;
    if (wanted[target] == target) {
      if (fcntl(target, F_SETFD, 0) != 0) return errno;
    } else if (dup2(wanted[target], target) < 0) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

void reset_signals_for_exec() {
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    sigaction(sig, &dfl, nullptr);  // fails harmlessly for the reserved ones
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

Result<PipeEnds> make_pipe() {
  int fds[2];
#if defined(__APPLE__)
  if (pipe(fds) != 0) return os_failure(errno);
  PipeEnds out{UniqueFd(fds[0]), UniqueFd(fds[1])};
  for (int fd : fds) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0) return os_failure(errno);
  }
  return out;
#else
  if (pipe2(fds, O_CLOEXEC) != 0) return os_failure(errno);
  return PipeEnds{UniqueFd(fds[0]), UniqueFd(fds[1])};
#endif
}

ExecImage::ExecImage(std::string path, std::vector<std::string> argv, std::vector<std::string> envp)
    : path_(std::move(path)), argv_(std::move(argv)), envp_(std::move(envp)) {
  args_ = c_strings(argv_);
  env_ = c_strings(envp_);
  // execvp's form: the shell, the file, then the arguments after argv[0].
  sh_args_ = {const_cast<char*>(kShell), const_cast<char*>(path_.c_str())};
  for (size_t i = 1; i < argv_.size(); ++i) sh_args_.push_back(const_cast<char*>(argv_[i].c_str()));
  sh_args_.push_back(nullptr);
}

int ExecImage::exec() const {
  execve(path_.c_str(), args_.data(), env_.data());
  if (errno == ENOEXEC) execve(kShell, sh_args_.data(), env_.data());
  return errno;
}

Status exec_with_default_signals(const std::string& path, const std::vector<std::string>& argv,
                                 const std::vector<std::string>& envp) {
  const ExecImage image(path, argv, envp);

  // Everything blocked while the actions change, so that no handler of ours
  // runs half-way; the mask is emptied only for the exec itself.
  sigset_t all, old_mask, none;
  sigfillset(&all);
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &all, &old_mask);
  struct sigaction saved[NSIG];
  bool changed[NSIG] = {};
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    if (sigaction(sig, &dfl, &saved[sig]) == 0) changed[sig] = true;
  }
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  int err = image.exec();

  pthread_sigmask(SIG_SETMASK, &all, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (changed[sig]) sigaction(sig, &saved[sig], nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return os_failure(err);
}

Result<pid_t> fork_exec(const ExecImage& image, const std::string& cwd, ChildSetup setup,
                        const void* context) {
  // fork and exec rather than posix_spawn: glibc's posix_spawn leaves its
  // two internal signals ignored in the child, and an exec keeps them so.
  Result<PipeEnds> status = make_pipe();
  if (!status) return status.status();
  pid_t pid = fork();
  if (pid < 0) return os_failure(errno);
  if (pid == 0) {
    // The child: async-signal-safe calls only.
    reset_signals_for_exec();
    // Above the standard streams, which the setup may replace.
    int report = status->write.get();
    if (report < 3) {
      int moved = fcntl(report, F_DUPFD_CLOEXEC, 3);
      if (moved < 0) report_and_exit(report, errno);
      report = moved;
    }
    if (setup != nullptr) {
      if (int err = setup(context, report)) report_and_exit(report, err);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) report_and_exit(report, errno);
    report_and_exit(report, image.exec());
  }
  status->write.reset();
  int child_errno = 0;
  ssize_t n;
  do {
    n = read(status->read.get(), &child_errno, sizeof child_errno);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof child_errno)) {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {}
    return os_failure(child_errno);
  }
  return pid;
}

Result<pid_t> spawn_with_default_signals(const SpawnRequest& request) {
  const ExecImage image(request.path, request.argv, request.envp);
  const int wanted[3] = {request.stdin_fd, request.stdout_fd, request.stderr_fd};
  return fork_exec(image, request.cwd, set_standard_streams, wanted);
}

std::optional<double> modified_time_ms(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
#if defined(__APPLE__)
  const struct timespec& t = st.st_mtimespec;
#else
  const struct timespec& t = st.st_mtim;
#endif
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace mossbank::platform
