#include "run/start/codex_probe.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "base/text.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "platform/process.h"
#include "screen/agents.h"

namespace mossbank::run {

namespace {

constexpr std::array<std::string_view, 14> kValueOptions = {"-m",
                                                            "--model",
                                                            "--effort",
                                                            "--reasoning-effort",
                                                            "--permission-mode",
                                                            "--approval-mode",
                                                            "--mode",
                                                            "-a",
                                                            "--ask-for-approval",
                                                            "-s",
                                                            "--sandbox",
                                                            "--agent",
                                                            "-c",
                                                            "--config"};

void kill_and_reap(pid_t pid) {
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {}
  if (done == pid) return;
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
}

}  // namespace

bool codex_probe_wanted(const screen::AgentProfile& agent, std::span<const std::string> args) {
  std::vector<std::string_view> flags, valued;
  for (size_t k = 0; k < args.size(); ++k) {
    std::string_view arg = args[k];
    if (arg == "--") break;
    if (arg.empty() || arg[0] != '-') continue;
    if (arg.starts_with("--") && arg.find('=') != std::string_view::npos) {
      valued.push_back(arg.substr(0, arg.find('=')));
      continue;
    }
    if (listed(kValueOptions, arg) && k + 1 < args.size() &&
        (args[k + 1].empty() || args[k + 1][0] != '-')) {
      valued.push_back(arg);
      ++k;
      continue;
    }
    flags.push_back(arg);
  }
  if (listed(flags, "--no-daemon") || listed(flags, "--remote") || listed(valued, "--remote")) {
    return false;
  }
  std::optional<std::string> word = screen::first_command_word(agent.name, args);
  if (word && (screen::is_non_session_command(agent.name, *word) ||
               listed(agent.one_shot_commands, *word))) {
    return false;
  }
  return true;
}

bool help_lists_no_daemon(std::string_view help) {
  while (!help.empty()) {
    size_t nl = help.find('\n');
    std::string_view line = help.substr(0, nl);
    help = nl == std::string_view::npos ? std::string_view() : help.substr(nl + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = js_trim(line);
    // The words between runs of JavaScript white space.
    size_t pos = 0, word_start = 0;
    while (true) {
      const bool at_end = pos == line.size();
      size_t next = pos + 1;
      bool space = false;
      if (!at_end && utf8_sequence_length(line.substr(pos)) != 0) {
        next = pos;
        space = is_js_space(next_code_point(line, next));
      }
      if (at_end || space) {
        if (line.substr(word_start, pos - word_start) == "--no-daemon") return true;
        if (at_end) break;
        word_start = next;
      }
      pos = next;
    }
  }
  return false;
}

std::optional<std::string> probe_help(const ProbeCommand& command) {
  Result<platform::PipeEnds> in = platform::make_pipe();
  Result<platform::PipeEnds> out_pipe = platform::make_pipe();
  Result<platform::PipeEnds> err_pipe = platform::make_pipe();
  if (!in || !out_pipe || !err_pipe) return std::nullopt;
  UniqueFd in_read = std::move(in->read), in_write = std::move(in->write);
  UniqueFd out_read = std::move(out_pipe->read), out_write = std::move(out_pipe->write);
  UniqueFd err_read = std::move(err_pipe->read), err_write = std::move(err_pipe->write);
  platform::SpawnRequest request;
  request.path = command.program_path;
  request.argv = {command.program_path, "--help"};
  request.envp = command.envp;
  request.cwd = command.cwd;
  request.stdin_fd = in_read.get();
  request.stdout_fd = out_write.get();
  request.stderr_fd = err_write.get();
  Result<pid_t> child = platform::spawn_with_default_signals(request);
  in_read.reset();
  out_write.reset();
  err_write.reset();
  if (!child) return std::nullopt;
  in_write.reset();  // the probe reads nothing

  // Both pipes are drained so that a chatty stderr never stalls the child;
  // only stdout, read to its end in time, counts.
  std::string out, err;
  const auto deadline = std::chrono::steady_clock::now() + command.wait;
  bool out_done = false;
  while (!out_done) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
    const nfds_t count = err_read ? 2 : 1;
    int rc = poll(fds, count, static_cast<int>(left.count()) + 1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) break;
    char buf[16384];
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (i == 0) {
          out_done = true;
        } else {
          err_read.reset();
        }
        continue;
      }
      (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
    }
  }
  kill_and_reap(*child);
  if (!out_done) return std::nullopt;
  return out;
}

std::vector<std::string> codex_args_after_probe(const ProbeCommand& command,
                                                std::vector<std::string> args) {
  std::optional<std::string> help = probe_help(command);
  if (help && help_lists_no_daemon(*help)) args.insert(args.begin(), "--no-daemon");
  return args;
}

}  // namespace mossbank::run
