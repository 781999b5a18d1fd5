#include "platform/terminal_mode.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace mossbank::platform {

namespace {

// Process-wide, for the fatal-signal handlers, which may take no lock.
struct termios g_saved_attributes;
std::atomic<bool> g_have_saved{false};
std::atomic<bool> g_restored{true};
std::atomic<bool> g_agent_output{false};

void restore_saved() {
  if (!g_have_saved.load() || g_restored.exchange(true)) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_attributes);
}

extern "C" void on_fatal_signal(int sig) {
  const bool was_raw = g_have_saved.load() && !g_restored.load();
  restore_saved();
  if ((was_raw || g_agent_output.load()) && isatty(STDOUT_FILENO)) {
    ssize_t ignored = write(STDOUT_FILENO, kFatalReset.data(), kFatalReset.size());
    (void)ignored;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

RawMode::RawMode() {
  if (!isatty(STDIN_FILENO)) return;
  struct termios attrs;
  if (tcgetattr(STDIN_FILENO, &attrs) != 0) return;
  g_saved_attributes = attrs;
  g_have_saved.store(true);
  g_restored.store(false);
  saved_ = true;
  cfmakeraw(&attrs);
  tcsetattr(STDIN_FILENO, TCSANOW, &attrs);
}

void RawMode::restore() {
  if (saved_) restore_saved();
}

void mark_agent_output() { g_agent_output.store(true); }

std::vector<int> fatal_signals() {
  std::vector<int> out = {
    SIGSEGV,
    SIGBUS,
    SIGFPE,
    SIGILL,
    SIGABRT,
    SIGQUIT,
    SIGTRAP,
    SIGSYS,
    SIGUSR1,
    SIGUSR2,
    SIGALRM,
    SIGVTALRM,
    SIGPROF,
    SIGXCPU,
    SIGXFSZ,
    SIGIO,
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#if defined(SIGEMT)
    SIGEMT,
#endif
#if defined(SIGLOST) && SIGLOST != SIGPWR
    SIGLOST,
#endif
  };
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) out.push_back(sig);
#endif
  return out;
}

void install_fatal_signal_restore() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int sig : fatal_signals()) {
      // An ignored signal ends nothing and stays ignored.
      struct sigaction current;
      if (sigaction(sig, nullptr, &current) != 0 ||
          ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN))
        continue;
      sigaction(sig, &sa, nullptr);
    }
  });
}

}  // namespace mossbank::platform
