// Whole-program figures of `mossbank run`, each in a real pseudo-terminal
// that this program holds as the user's terminal.
//
//   run_bench passthrough [--size MB] [--repeat N]
//       `mossbank run cat FILE` (generated text with SGR and CJK) next to
//       `script -q -c "cat FILE" /dev/null` and a bare `cat FILE`; the
//       output is read and thrown away; MB/s, best of N
//   run_bench latency [--keys N]
//       a byte typed into the terminal until the agent (this program's echo
//       mode) has read it and echoed it back, through the wrapper and
//       through a bare pty: median and 99th percentile in microseconds
//   run_bench compare [--keys N] [--size MB] [--repeat N] [--before BIN]
//       everything side by side in one run: bare pty, `script`, `mossbank
//       run` (and a second binary given with --before), and tmux where it
//       is installed. Key round trip (the echo agent, 120x40; the wrappers'
//       keys interleaved so that all see the same load): median and p99.
//       Pass-through of a mixed agent-like corpus (colours, wide text,
//       redrawn status lines, cursor moves): best and median of N. Each
//       with its ratio to `script`.
//   run_bench memory
//       the wrapper's resident size once its agent has filled the 5,000-line
//       scroll-back at 200 columns
//   run_bench idle [--seconds N]
//       an agent that prints nothing: the wrapper's CPU share and its
//       context switches per second, summed over its threads
//
// MOSSBANK_BIN names the binary (default: build/mossbank beside this
// program's build directory); a stand-in daemon is not needed (the run
// takes the village-off road unless MOSSBANK_HOME says otherwise).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string g_self;

std::string binary() {
  if (const char* bin = std::getenv("MOSSBANK_BIN")) return bin;
  std::string dir = g_self.substr(0, g_self.rfind('/'));
  return dir + "/../mossbank";
}

struct Child {
  pid_t pid = -1;
  int master = -1;
};

Child spawn(const std::vector<std::string>& argv, uint16_t cols = 120, uint16_t rows = 40) {
  struct winsize ws {};
  ws.ws_col = cols;
  ws.ws_row = rows;
  Child c;
  c.pid = forkpty(&c.master, nullptr, nullptr, &ws);
  if (c.pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return c;
}

// Reads until the pty closes; the number of bytes.
size_t drain(int fd) {
  std::vector<char> buf(1 << 16);
  size_t total = 0;
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return total;
    total += static_cast<size_t>(n);
  }
}

int reap(const Child& c) {
  int status = 0;
  waitpid(c.pid, &status, 0);
  close(c.master);
  return status;
}

std::string make_file(size_t megabytes) {
  std::string path = "/tmp/mossbank-run-bench-" + std::to_string(megabytes) + "mb.txt";
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) >= megabytes << 20)
    return path;
  std::ofstream out(path, std::ios::binary);
  const char* words[] = {"the",      "agent",
                         "writes",   "\x1b[1;32mgreen\x1b[0m",
                         "中文字符", "\x1b[38;5;208mcolour\x1b[m",
                         "résumé",   "한국어",
                         "tests",    "passed"};
  size_t written = 0, k = 0;
  std::string line;
  while (written < megabytes << 20) {
    line.clear();
    while (line.size() < 90) {
      line += words[k++ % 10];
      line += ' ';
    }
    line += "\r\n";
    out << line;
    written += line.size();
  }
  return path;
}

double seconds_of(const std::vector<std::string>& argv) {
  auto start = Clock::now();
  Child c = spawn(argv);
  drain(c.master);
  reap(c);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int passthrough(int argc, char** argv) {
  size_t mb = 50;
  int repeat = 3;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--size")) mb = std::strtoul(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::atoi(argv[i + 1]);
  }
  std::string file = make_file(mb);
  struct stat st;
  stat(file.c_str(), &st);
  const double size_mb = static_cast<double>(st.st_size) / (1 << 20);
  struct Candidate {
    const char* name;
    std::vector<std::string> argv;
  };
  const std::vector<Candidate> candidates = {
      {"cat", {"cat", file}},
      {"script", {"script", "-q", "-c", "cat " + file, "/dev/null"}},
      {"mossbank run", {binary(), "run", "cat", file}},
  };
  std::printf("%-14s %10s %10s\n", "", "best s", "MB/s");
  for (const auto& c : candidates) {
    double best = 1e9;
    for (int r = 0; r < repeat; ++r) best = std::min(best, seconds_of(c.argv));
    std::printf("%-14s %10.3f %10.1f\n", c.name, best, size_mb / best);
  }
  return 0;
}

// The echo agent: raw input, each byte written back at once.
int echo_agent() {
  struct termios t;
  if (tcgetattr(0, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(0, TCSANOW, &t);
  }
  if (write(1, "R", 1) != 1) return 1;
  char b;
  while (read(0, &b, 1) == 1) {
    if (b == 'q') return 0;
    if (write(1, &b, 1) != 1) return 1;
  }
  return 0;
}

bool wait_for_byte(int fd, char want) {
  char b;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    if (read(fd, &b, 1) != 1) return false;
    if (b == want) return true;
  }
}

void latency_of(const char* name, const std::vector<std::string>& argv, int keys) {
  Child c = spawn(argv);
  struct termios t;
  tcgetattr(c.master, &t);
  cfmakeraw(&t);
  tcsetattr(c.master, TCSANOW, &t);
  if (!wait_for_byte(c.master, 'R')) {
    std::printf("%s: the echo agent did not start\n", name);
    kill(c.pid, SIGKILL);
    reap(c);
    return;
  }
  std::vector<double> us;
  us.reserve(static_cast<size_t>(keys));
  for (int i = 0; i < keys; ++i) {
    const char key = static_cast<char>('a' + i % 16);  // never the 'q' that ends the agent
    auto start = Clock::now();
    if (write(c.master, &key, 1) != 1 || !wait_for_byte(c.master, key)) break;
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (write(c.master, "q", 1) != 1) kill(c.pid, SIGKILL);
  drain(c.master);
  reap(c);
  std::sort(us.begin(), us.end());
  if (us.empty()) return;
  std::printf("%-14s median %8.1f us   p99 %8.1f us   (%zu keys)\n", name, us[us.size() / 2],
              us[us.size() * 99 / 100], us.size());
}

int latency(int argc, char** argv) {
  int keys = 10000;
  for (int i = 2; i + 1 < argc; i += 2)
    if (!std::strcmp(argv[i], "--keys")) keys = std::atoi(argv[i + 1]);
  latency_of("bare pty", {g_self, "echo-agent"}, keys);
  latency_of("mossbank run", {binary(), "run", g_self, "echo-agent"}, keys);
  return 0;
}

// What a terminal shows of a byte stream, as far as the round trip needs:
// the printed characters, with control sequences skipped (tmux redraws with
// them, and their letters are no echo).
class EchoScanner {
 public:
  // True when `want` is printed in these bytes.
  bool scan(std::string_view bytes, char want) {
    bool seen = false;
    for (char c : bytes) {
      switch (state_) {
        case State::text:
          if (c == '\x1b') {
            state_ = State::esc;
          } else if (c == want) {
            seen = true;
          }
          break;
        case State::esc:
          state_ = c == '[' ? State::csi : c == ']' ? State::osc : State::text;
          break;
        case State::csi:
          if (c >= 0x40 && c <= 0x7e) state_ = State::text;
          break;
        case State::osc:
          if (c == '\x07') state_ = State::text;
          if (c == '\x1b') state_ = State::esc;
          break;
      }
    }
    return seen;
  }

 private:
  enum class State { text, esc, csi, osc } state_ = State::text;
};

struct Wrapper {
  std::string name;
  std::vector<std::string> latency_argv;  // runs the echo agent
  std::vector<std::string> pass_argv;     // cats the corpus
};

// The corpus: what agents print, mixed: coloured words, wide characters,
// a status line redrawn in place, erased lines, cursor moves, long lines
// that wrap.
std::string make_mixed_corpus(size_t megabytes) {
  std::string path = "/tmp/mossbank-run-bench-mixed-" + std::to_string(megabytes) + "mb.txt";
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) >= megabytes << 20)
    return path;
  std::ofstream out(path, std::ios::binary);
  const char* words[] = {"the",
                         "agent",
                         "writes",
                         "\x1b[1;32mgreen\x1b[0m",
                         "中文字符",
                         "\x1b[38;5;208mcolour\x1b[m",
                         "résumé",
                         "한국어",
                         "tests",
                         "passed",
                         "\x1b[2mdim\x1b[22m",
                         "src/run/session/pump.cpp:42",
                         "✔",
                         "│",
                         "\x1b[48;2;30;30;30m bg \x1b[49m"};
  const size_t kinds = sizeof words / sizeof words[0];
  size_t written = 0, k = 0, line_no = 0;
  std::string line;
  while (written < megabytes << 20) {
    line.clear();
    ++line_no;
    if (line_no % 7 == 0) {
      // A spinner's status line, redrawn in place.
      const char* spinner[] = {"⠋", "⠙", "⠹", "⠸"};
      for (const char* frame : spinner) {
        line += "\r\x1b[2K\x1b[36m";
        line += frame;
        line += "\x1b[m Thinking… (" + std::to_string(line_no % 97) + "s · esc to interrupt)";
      }
      line += "\r\x1b[2K";
    } else if (line_no % 11 == 0) {
      // A box redrawn: up, erase, draw.
      line += "\x1b[3A\x1b[J╭──────────────────────────────╮\r\n│ > \x1b[7m \x1b[27m";
      line += std::string(26, ' ') + "│\r\n╰──────────────────────────────╯\r\n";
    }
    const size_t width = line_no % 13 == 0 ? 300 : 90;  // now and then a line that wraps
    while (line.size() < width) {
      line += words[k++ % kinds];
      line += ' ';
    }
    line += "\r\n";
    out << line;
    written += line.size();
  }
  return path;
}

// CPU time and context switches of every thread of a process, from the
// scheduler's own accounts (finer than the clock ticks of /proc/<pid>/stat).
struct ThreadUsage {
  double cpu_ms = 0;
  long switches = 0;
};

ThreadUsage thread_usage(pid_t pid) {
  ThreadUsage u;
  const std::string task_dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(task_dir.c_str());
  if (dir == nullptr) return u;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(task_dir + "/" + entry->d_name + "/sched");
    std::string line;
    while (std::getline(in, line)) {
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      if (line.rfind("se.sum_exec_runtime", 0) == 0)
        u.cpu_ms += std::strtod(&line[colon + 1], nullptr);
      if (line.rfind("nr_switches", 0) == 0)
        u.switches += std::strtol(&line[colon + 1], nullptr, 10);
    }
  }
  closedir(dir);
  return u;
}

struct LatencySession {
  Child child;
  EchoScanner scanner;
  std::vector<double> us;
  ThreadUsage before, after;
  bool ok = false;
};

// Reads until `want` is printed; false after 10 s or at the end.
bool wait_printed(LatencySession& s, char want) {
  char buf[4096];
  for (;;) {
    pollfd p{s.child.master, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    ssize_t n = read(s.child.master, buf, sizeof buf);
    if (n <= 0) return false;
    if (s.scanner.scan(std::string_view(buf, static_cast<size_t>(n)), want)) return true;
  }
}

// Reads whatever comes until the pty has been quiet for `quiet_ms`.
void settle(int fd, int quiet_ms) {
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quiet_ms) <= 0) return;
    if (read(fd, buf, sizeof buf) <= 0) return;
  }
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(static_cast<double>(v.size()) * q))];
}

double ratio_text(double value, double of) { return of > 0 ? value / of : 0; }

void compare_latency(const std::vector<Wrapper>& wrappers, int keys, size_t script_at) {
  std::vector<LatencySession> sessions(wrappers.size());
  for (size_t w = 0; w < wrappers.size(); ++w) {
    LatencySession& s = sessions[w];
    s.child = spawn(wrappers[w].latency_argv);
    struct termios t;
    tcgetattr(s.child.master, &t);
    cfmakeraw(&t);
    tcsetattr(s.child.master, TCSANOW, &t);
    s.ok = wait_printed(s, 'R');
    if (!s.ok) std::printf("%s: the echo agent did not start\n", wrappers[w].name.c_str());
    settle(s.child.master, 300);  // the first draw is over
    s.before = thread_usage(s.child.pid);
  }
  for (int i = 0; i < keys; ++i) {
    const char key = static_cast<char>('a' + i % 16);  // never the 'q' that ends the agent
    for (LatencySession& s : sessions) {
      if (!s.ok) continue;
      auto start = Clock::now();
      if (write(s.child.master, &key, 1) != 1 || !wait_printed(s, key)) {
        s.ok = false;
        continue;
      }
      s.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  for (LatencySession& s : sessions) {
    s.after = thread_usage(s.child.pid);
    if (write(s.child.master, "q", 1) != 1) kill(s.child.pid, SIGKILL);
    // A wrapper that keeps running once its agent ended is not waited for.
    settle(s.child.master, 3000);
    kill(s.child.pid, SIGKILL);
    reap(s.child);
  }
  const double script_median = percentile(sessions[script_at].us, 0.5);
  const double script_p99 = percentile(sessions[script_at].us, 0.99);
  std::printf("key round trip (%d keys, 120x40); the wrapper process's own CPU and switches\n",
              keys);
  std::printf("  %-20s %10s %10s %10s %10s %10s %10s\n", "", "median us", "p99 us", "median/s",
              "p99/s", "cpu us/key", "switch/key");
  for (size_t w = 0; w < wrappers.size(); ++w) {
    const LatencySession& s = sessions[w];
    const double m = percentile(s.us, 0.5), p = percentile(s.us, 0.99);
    const double n = s.us.empty() ? 1 : static_cast<double>(s.us.size());
    std::printf("  %-20s %10.1f %10.1f %9.2fx %9.2fx %10.1f %10.2f  (%zu keys)\n",
                wrappers[w].name.c_str(), m, p, ratio_text(m, script_median),
                ratio_text(p, script_p99), (s.after.cpu_ms - s.before.cpu_ms) * 1000 / n,
                static_cast<double>(s.after.switches - s.before.switches) / n, s.us.size());
  }
  std::printf("  (tmux: its client only; the server that does the work is not counted)\n");
}

void compare_passthrough(const std::vector<Wrapper>& wrappers, int repeat, const std::string& file,
                         size_t script_at) {
  struct stat st;
  stat(file.c_str(), &st);
  const double size_mb = static_cast<double>(st.st_size) / (1 << 20);
  std::vector<std::vector<double>> rates(wrappers.size());
  // Round by round, so that every wrapper sees the same load.
  for (int r = 0; r < repeat; ++r)
    for (size_t w = 0; w < wrappers.size(); ++w)
      rates[w].push_back(size_mb / seconds_of(wrappers[w].pass_argv));
  auto best = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  const double script_best = best(rates[script_at]);
  const double script_median = percentile(rates[script_at], 0.5);
  std::printf("pass-through (%.1f MB mixed, %d runs)\n", size_mb, repeat);
  std::printf("  %-20s %10s %10s %10s %10s\n", "", "best MB/s", "med MB/s", "best/s", "median/s");
  for (size_t w = 0; w < wrappers.size(); ++w) {
    const double b = best(rates[w]), m = percentile(rates[w], 0.5);
    std::printf("  %-20s %10.1f %10.1f %9.2fx %9.2fx\n", wrappers[w].name.c_str(), b, m,
                ratio_text(b, script_best), ratio_text(m, script_median));
  }
}

bool on_path(const char* program) {
  std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

int compare(int argc, char** argv) {
  int keys = 600;
  size_t mb = 25;
  int repeat = 7;
  std::string before;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--keys")) keys = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--size")) mb = std::strtoul(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--before")) before = argv[i + 1];
  }
  if (!std::getenv("TERM")) setenv("TERM", "xterm-256color", 1);
  const std::string file = make_mixed_corpus(mb);
  const std::string echo = g_self + " echo-agent";
  std::vector<Wrapper> wrappers = {
      {"bare pty", {g_self, "echo-agent"}, {"cat", file}},
      {"script",
       {"script", "-q", "-c", echo, "/dev/null"},
       {"script", "-q", "-c", "cat " + file, "/dev/null"}},
      {"mossbank run", {binary(), "run", g_self, "echo-agent"}, {binary(), "run", "cat", file}},
  };
  if (!before.empty())
    wrappers.push_back(
        {"mossbank (before)", {before, "run", g_self, "echo-agent"}, {before, "run", "cat", file}});
  if (on_path("tmux")) {
    const std::string conf = "/tmp/mossbank-run-bench-tmux.conf";
    std::ofstream(conf) << "set -g status off\n";
    const std::string socket = "mossbank-bench-" + std::to_string(getpid());
    wrappers.push_back({"tmux",
                        {"tmux", "-L", socket, "-f", conf, "new-session", echo},
                        {"tmux", "-L", socket, "-f", conf, "new-session", "cat " + file}});
  }
  compare_latency(wrappers, keys, 1);
  compare_passthrough(wrappers, repeat, file, 1);
  return 0;
}

long status_field(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0)
      return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

int memory(int, char**) {
  // 6,000 lines of 200 columns: more than the scroll-back holds.
  std::string script =
      "i=0; while [ $i -lt 6000 ]; do printf '%0200d\\n' $i; i=$((i+1)); done; echo filled; sleep "
      "30";
  Child c = spawn({binary(), "run", "sh", "-c", script}, 200, 50);
  std::string seen;
  char buf[65536];
  while (seen.find("filled") == std::string::npos) {
    pollfd p{c.master, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) break;
    ssize_t n = read(c.master, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
    if (seen.size() > 64) seen.erase(0, seen.size() - 64);
  }
  usleep(200000);
  std::printf("wrapper RSS with a full 5,000-line scroll-back at 200 columns: %.1f MB\n",
              status_field(c.pid, "VmRSS:") / 1024.0);
  kill(c.pid, SIGTERM);
  drain(c.master);
  reap(c);
  return 0;
}

// CPU ticks and context switches of every thread of a process.
void usage_of(pid_t pid, double& cpu_seconds, long& switches) {
  cpu_seconds = 0;
  switches = 0;
  std::string task_dir = "/proc/" + std::to_string(pid) + "/task";
  std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat_line;
  std::getline(stat_file, stat_line);
  std::istringstream fields(stat_line.substr(stat_line.rfind(')') + 2));
  std::string f;
  std::vector<std::string> parts;
  while (fields >> f) parts.push_back(f);
  if (parts.size() > 12)
    cpu_seconds =
        (std::stod(parts[11]) + std::stod(parts[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
  std::string cmd = "ls " + task_dir;
  FILE* ls = popen(cmd.c_str(), "r");
  char tid[32];
  while (ls && std::fscanf(ls, "%31s", tid) == 1) {
    std::ifstream in(task_dir + "/" + tid + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        switches += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
    }
  }
  if (ls) pclose(ls);
}

int idle(int argc, char** argv) {
  int seconds = 10;
  for (int i = 2; i + 1 < argc; i += 2)
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
  Child c = spawn({binary(), "run", "sleep", std::to_string(seconds + 5)});
  sleep(2);  // every thread of the run exists by now
  double cpu0, cpu1;
  long sw0, sw1;
  usage_of(c.pid, cpu0, sw0);
  sleep(static_cast<unsigned>(seconds));
  usage_of(c.pid, cpu1, sw1);
  std::printf("idle over %d s: %.2f%% of a core, %.1f context switches a second\n", seconds,
              (cpu1 - cpu0) / seconds * 100, static_cast<double>(sw1 - sw0) / seconds);
  kill(c.pid, SIGTERM);
  drain(c.master);
  reap(c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  g_self = n > 0 ? std::string(self, static_cast<size_t>(n)) : argv[0];
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "passthrough") return passthrough(argc, argv);
  if (mode == "latency") return latency(argc, argv);
  if (mode == "compare") return compare(argc, argv);
  if (mode == "memory") return memory(argc, argv);
  if (mode == "idle") return idle(argc, argv);
  if (mode == "echo-agent") return echo_agent();
  std::fprintf(stderr, "usage: run_bench passthrough|latency|compare|memory|idle [options]\n");
  return 2;
}
