#include "cli/node_cli.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daemon/home.h"
#include "platform/platform.h"
#include "platform/process.h"

extern char** environ;

namespace mossbank::cli {

namespace {

// The parent folder, as a path's components go: none for a path with no
// parent ("/" or a bare name).
std::optional<std::string> parent_of(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || p == "/") return std::nullopt;
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return std::string();  // relative bare name: parent ""
  if (slash == 0) return std::string("/");
  std::string parent = p.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  return parent;
}

std::vector<char*> c_argv(std::vector<std::string>& parts) {
  std::vector<char*> out;
  for (auto& s : parts) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> command_of(const NodeCliLaunch& launch,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> cmd{launch.program, launch.script};
  cmd.insert(cmd.end(), args.begin(), args.end());
  return cmd;
}

}  // namespace

bool path_is_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<NodeCliLaunch> find_node_cli(
    const std::string& executable, const std::function<bool(const std::string&)>& path_exists) {
  auto bin = parent_of(executable);
  if (!bin || bin->empty()) return std::nullopt;
  auto top = parent_of(*bin);
  if (!top || top->empty()) return std::nullopt;
  std::string cjs = home_path(*top, "mossbank.cjs");
  if (path_exists(cjs)) {
    auto up = parent_of(*top);
    auto contents = up && !up->empty() ? parent_of(*up) : std::nullopt;
    if (!contents || contents->empty()) return std::nullopt;
    for (const std::string& program : {home_path(home_path(*contents, "MacOS"), "Mossbank"),
                                       home_path(*contents, "Mossbank.exe")}) {
      if (path_exists(program)) return NodeCliLaunch{program, cjs, true};
    }
    return std::nullopt;
  }
  std::string js = home_path(*top, "mossbank.js");
  if (path_exists(js)) return NodeCliLaunch{"node", js, false};
  return std::nullopt;
}

void run_node_cli(const std::vector<std::string>& args) {
  std::string exe = platform::own_executable_path().value_or("");
  auto launch = find_node_cli(exe, path_is_file);
  if (!launch) {
    std::fprintf(stderr,
                 "mossbank: no Node CLI beside %s to run this command (mossbank.cjs or "
                 "mossbank.js in its parent folder).\n",
                 exe.c_str());
    return;
  }
  std::vector<std::string> cmd = command_of(*launch, args);
  if (launch->run_as_node) setenv("ELECTRON_RUN_AS_NODE", "1", 1);
  std::fflush(stdout);
  std::vector<char*> argv = c_argv(cmd);
  // The Node program must not inherit the tool's ignored SIGPIPE.
  platform::reset_signals_for_exec();
  execvp(argv[0], argv.data());
  int err = errno;
  if (launch->run_as_node) unsetenv("ELECTRON_RUN_AS_NODE");
  std::fprintf(stderr, "mossbank: the Node CLI didn't start: %s\n", std::strerror(err));
}

bool start_app() {
  std::string exe = platform::own_executable_path().value_or("");
  auto launch = find_node_cli(exe, path_is_file);
  if (!launch) return false;
  std::vector<std::string> cmd = command_of(*launch, {"start", "--no-open"});
  std::vector<char*> argv = c_argv(cmd);

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    if (launch->run_as_node && std::strncmp(*e, "ELECTRON_RUN_AS_NODE=", 21) == 0) continue;
    env_text.emplace_back(*e);
  }
  if (launch->run_as_node) env_text.emplace_back("ELECTRON_RUN_AS_NODE=1");
  std::vector<char*> envp = c_argv(env_text);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // Every signal at its default and an empty mask: the tool ignores SIGPIPE,
  // and the application would inherit that.
  posix_spawnattr_t attrs;
  posix_spawnattr_init(&attrs);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attrs, &all);
  posix_spawnattr_setsigmask(&attrs, &none);
  posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attrs, argv.data(), envp.data());
  posix_spawnattr_destroy(&attrs);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace mossbank::cli
