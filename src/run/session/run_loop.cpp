#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>
#include <variant>

#include "base/files.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "platform/platform.h"
#include "platform/signals.h"
#include "platform/terminal_mode.h"
#include "run/session/activity.h"
#include "run/session/colours.h"
#include "run/link/commands.h"
#include "run/start/direct.h"
#include "run/start/environment.h"
#include "run/session/hand_input.h"
#include "run/requests/keys_requests.h"
#include "run/link/link.h"
#include "run/start/messages.h"
#include "run/session/mirror.h"
#include "run/requests/new_conversation.h"
#include "run/start/options.h"
#include "run/link/output_stream.h"
#include "run/link/posts.h"
#include "run/session/pty_agent.h"
#include "run/session/pump.h"
#include "run/start/resume.h"
#include "run/session/run_loop.h"
#include "run/session/run_setup.h"
#include "run/session/run_shared.h"
#include "run/session/run_threads.h"
#include "run/session/terminal_reset.h"
#include "run/session/watches.h"
#include "screen/agents.h"
#include "screen/session_ids.h"

namespace mossbank::run {

namespace {

constexpr size_t kKeysReadSize = 16384;

enum class PendingAction { none, interrupt, stop };

// The agent slot: what the signal and keys threads act on, across restarts.
struct AgentSlot {
  std::shared_ptr<RunShared> run;
  std::shared_ptr<AgentProcess> agent;
  std::shared_ptr<AgentInput> input;
  bool starting = false;
  PendingAction pending = PendingAction::none;
  std::string kept_input;  // typed while the agent was starting
};

struct Attached {
  std::shared_ptr<RunShared> run;
  std::shared_ptr<AgentProcess> agent;
  std::shared_ptr<AgentInput> input;
};

// The pseudo-terminal's size: the user's terminal, else MOSSBANK_RUN_SIZE
// ("<cols>x<rows>", each 1 to 4 digits and at least 2), else 80 x 24.
std::pair<uint16_t, uint16_t> initial_size(const RunInvocation& inv) {
  if (auto size = our_terminal_size()) return *size;
  return parse_run_size(env_var(inv.environment, "MOSSBANK_RUN_SIZE"));
}

// The user's own terminal wins back the size from the village's.
void take_back_own_size(RunShared& run) {
  const bool resize = run.size.update([](SizeRecord& size) {
    if (!size.own_terminal || !size.village_in_force) return false;
    size.village_in_force = false;
    return true;
  });
  if (resize) {
    auto [cols, rows] = current_size(run);
    resize_screen(run, cols, rows);
  }
}

// What one run of the agent starts from: its session, the recognised agent
// and the command that starts it in a pseudo-terminal of its size.
struct Launch {
  screen::RunSession session;
  std::string agent;  // "" when none is recognised
  AgentCommand command;
};

RestartState restart_state_of(PendingAction pending) {
  return pending == PendingAction::interrupt ? RestartState::interrupted : RestartState::terminated;
}

// The user's terminal answered a colour query: the village learns the colours.
void note_colour_answers(RunShared& run, std::string_view bytes) {
  std::optional<JsonValue> colours = run.colours.update([&](ColourRecord& record) {
    std::optional<JsonValue> changed;
    if (take_colour_answers(record.colours, record.tail, bytes)) changed = record.colours;
    return changed;
  });
  if (colours && run.poster) run.poster->post("/colours", std::move(*colours));
}

void announce_end(RunShared& run);

class RunCommandImpl final : public RunCommand {
 public:
  RunCommandImpl();
  ~RunCommandImpl() override;
  LoopResult run_loop(const LoopInput& input) override;

 private:
  void signal_loop();
  void keys_loop();
  void handle_user_input(const Attached& to, std::string_view bytes);
  void pass_user_keys(const Attached& to, const screen::FilteredKeys& keys);
  void note_user_keys(RunShared& run);
  std::optional<Attached> attached();
  int keys_timeout();
  void release_held_esc();
  void drain_keys_wake();
  void wake_keys();
  void act_on_signal(int sig);
  LoopResult end_with(uint8_t code, bool from_wrapper);

  // The steps of run_loop, in their order.
  struct Ending {
    std::optional<std::string> end_reason;  // a failed worker ended the run
    std::optional<RestartRequest> restart;
  };
  std::variant<Launch, LoopResult> prepare_launch(const LoopInput& in);
  std::variant<StartedAgent, LoopResult> start_or_fall_back(const LoopInput& in,
                                                            const Launch& launch);
  std::shared_ptr<RunShared> build_run(const LoopInput& in, const Launch& launch,
                                       const StartedAgent& started);
  // A result when a stop or an interrupt came while the agent started.
  std::optional<LoopResult> attach(const LoopInput& in, const std::shared_ptr<RunShared>& run,
                                   const StartedAgent& started);
  void start_threads(RunThreads& threads, const std::shared_ptr<RunShared>& run,
                     const RunInvocation& inv, const StartedAgent& started,
                     PumpControl& pump_control);
  Ending weigh_restart(RunShared& run);
  void let_go_of_agent(bool restarting);
  void give_back_terminal(RunShared& run, platform::RawMode& raw);
  RestartState restart_window(bool restarting);
  void take_off_daemon(RunShared& run, const LoopInput& in, bool restarting);
  LoopResult report(RunShared& run, Ending& ending, int32_t code, RestartState window);

  std::mutex slot_mutex_;
  AgentSlot slot_;
  std::mutex stdout_mutex_;
  std::mutex stdin_mutex_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;
  UniqueFd keys_wake_read_;
  UniqueFd keys_wake_write_;
  std::atomic<bool> done_{false};
  // Where a run that is being restarted stayed registered.
  std::optional<Route> restart_route_;
  std::thread signal_thread_;
  std::thread keys_thread_;
};

RunCommandImpl::RunCommandImpl() {
  platform::install_fatal_signal_restore();
  if (Result<platform::PipeEnds> pair = platform::make_wake_pair()) {
    wake_read_ = std::move(pair->read);
    wake_write_ = std::move(pair->write);
    platform::install_run_signals(wake_write_.get());
  }
  if (Result<platform::PipeEnds> pair = platform::make_wake_pair()) {
    keys_wake_read_ = std::move(pair->read);
    keys_wake_write_ = std::move(pair->write);
  }
  signal_thread_ = std::thread([this] { signal_loop(); });
  keys_thread_ = std::thread([this] { keys_loop(); });
}

RunCommandImpl::~RunCommandImpl() {
  done_.store(true);
  char byte = 1;
  if (wake_write_) {
    ssize_t ignored = write(wake_write_.get(), &byte, 1);
    (void)ignored;
  }
  wake_keys();
  signal_thread_.join();
  keys_thread_.join();
  platform::uninstall_run_signals();
}

void RunCommandImpl::wake_keys() {
  if (!keys_wake_write_) return;
  char byte = 1;
  ssize_t ignored = write(keys_wake_write_.get(), &byte, 1);
  (void)ignored;
}

void RunCommandImpl::drain_keys_wake() {
  char sink[64];
  for (;;) {
    pollfd p{keys_wake_read_.get(), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return;
    if (read(keys_wake_read_.get(), sink, sizeof sink) <= 0) return;
  }
}

void RunCommandImpl::act_on_signal(int sig) {
  std::unique_lock lock(slot_mutex_);
  if (slot_.agent) {
    Attached to{slot_.run, slot_.agent, slot_.input};
    lock.unlock();
    if (sig == SIGWINCH) {
      const bool own = to.run->size.update([](SizeRecord& size) {
        if (size.own_terminal) size.village_in_force = false;
        return size.own_terminal;
      });
      if (own) {
        auto [cols, rows] = current_size(*to.run);
        resize_screen(*to.run, cols, rows);
      } else if (auto size = our_terminal_size(to.run->user_terminal_fd)) {
        resize_screen(*to.run, size->first, size->second);
      }
    } else if (sig == SIGINT) {
      to.agent->interrupt();
    } else {
      to.agent->kill(false);
    }
    return;
  }
  if (slot_.starting && slot_.pending == PendingAction::none) {
    if (sig == SIGINT) slot_.pending = PendingAction::interrupt;
    if (sig == SIGTERM || sig == SIGHUP) slot_.pending = PendingAction::stop;
  }
}

void RunCommandImpl::signal_loop() {
  if (!wake_read_) return;
  auto drain = [&] {
    char sink[64];
    for (;;) {
      pollfd p{wake_read_.get(), POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
      if (read(wake_read_.get(), sink, sizeof sink) <= 0) return;
    }
  };
  drain();
  while (!done_.load()) {
    bool any = false;
    for (int sig = 1; sig < platform::kMaxSignal; ++sig) {
      if (!platform::take_pending_signal(sig)) continue;
      any = true;
      act_on_signal(sig);
    }
    if (any || done_.load()) continue;
    char byte;
    ssize_t n = read(wake_read_.get(), &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    drain();
  }
}

void RunCommandImpl::keys_loop() {
  std::vector<char> buffer(kKeysReadSize);
  while (!done_.load()) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {keys_wake_read_.get(), POLLIN, 0}};
    int ready = poll(fds, keys_wake_read_ ? 2 : 1, keys_timeout());
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (ready == 0) {  // a lone Esc waited long enough: it is the Esc key
      release_held_esc();
      continue;
    }
    if (fds[1].revents != 0) {
      if (done_.load()) return;  // the command ends
      drain_keys_wake();         // a held Esc may be due: look again
      continue;
    }
    if (fds[0].revents == 0) continue;
    ssize_t n;
    {
      std::lock_guard lock(stdin_mutex_);
      n = read(STDIN_FILENO, buffer.data(), buffer.size());
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::string_view bytes(buffer.data(), static_cast<size_t>(n));
    std::unique_lock lock(slot_mutex_);
    if (slot_.agent) {
      Attached to{slot_.run, slot_.agent, slot_.input};
      lock.unlock();
      handle_user_input(to, bytes);
    } else if (slot_.starting) {
      slot_.kept_input.append(bytes);
    }
  }
}

void RunCommandImpl::handle_user_input(const Attached& to, std::string_view bytes) {
  RunShared& run = *to.run;
  screen::TakenKeys taken = take_user_keys(run, bytes, screen::KeyClock::now());
  if (taken.bytes.empty()) {
    note_colour_answers(run, bytes);
    return;
  }
  if (taken.bytes.find_first_of("\r\n") == std::string::npos) {
    // No Enter: nothing to report, so the keys go before the colours and
    // the count.
    note_user_keys(run);
    to.input->write(taken.bytes);
    note_colour_answers(run, bytes);
    count_user_keys(run, taken);
    return;
  }
  note_colour_answers(run, bytes);
  note_user_keys(run);
  // An Enter typed by hand is reported with the line the box shows before
  // the agent takes it.
  if (count_user_keys(run, taken)) (void)tell_typed_line(run, now_ms());
  to.input->write(taken.bytes);
}

void RunCommandImpl::note_user_keys(RunShared& run) {
  take_back_own_size(run);
  std::lock_guard lock(run.activity_mutex);
  note_input(run.activity, now_ms());
}

void RunCommandImpl::pass_user_keys(const Attached& to, const screen::FilteredKeys& keys) {
  RunShared& run = *to.run;
  if (keys.bytes.empty()) return;
  note_user_keys(run);
  // The keys thread goes on without the post: nothing to end here.
  if (keys.submitted) (void)tell_typed_line(run, now_ms());
  to.input->write(keys.bytes);
}

std::optional<Attached> RunCommandImpl::attached() {
  std::lock_guard lock(slot_mutex_);
  if (!slot_.agent) return std::nullopt;
  return Attached{slot_.run, slot_.agent, slot_.input};
}

// How long the keys thread may wait for input: until a held lone Esc is due.
int RunCommandImpl::keys_timeout() {
  std::optional<Attached> to = attached();
  if (!to) return -1;
  std::optional<screen::KeyClock::time_point> due = user_esc_deadline(*to->run);
  if (!due) return -1;
  const auto left = *due - screen::KeyClock::now();
  if (left <= screen::KeyClock::duration::zero()) return 0;
  // Rounded up, so that the wait never ends before the Esc is due.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void RunCommandImpl::release_held_esc() {
  if (std::optional<Attached> to = attached())
    pass_user_keys(*to, release_user_esc(*to->run, screen::KeyClock::now()));
}

LoopResult RunCommandImpl::end_with(uint8_t code, bool from_wrapper) {
  LoopResult r;
  r.exit_code = code;
  r.code_from_wrapper = from_wrapper;
  return r;
}

std::variant<Launch, LoopResult> RunCommandImpl::prepare_launch(const LoopInput& in) {
  const RunInvocation& inv = *in.invocation;
  const RunOptions& options = *in.options;

  // Claude Code takes only a UUID as its session id: a run id that is not
  // one gives the agent a fresh UUID instead, and that is the session.
  std::string session_uuid = in.run_id;
  if (!screen::is_session_id(session_uuid)) {
    auto fresh = screen::new_session_id();
    if (!fresh) {
      eprint("mossbank run: the agent didn't start: no random source\n");
      return end_with(1, true);
    }
    session_uuid = *fresh;
  }
  Launch launch;
  launch.session = screen::run_session(
      options.program, agent_args(options.program, in.agent_args, in.vocation_prompt),
      session_uuid);

  auto [cols, rows] = initial_size(inv);

  std::vector<std::string> words = {options.program};
  words.insert(words.end(), launch.session.args.begin(), launch.session.args.end());
  if (std::optional<screen::AgentName> agent = screen::agent_of_command_line(words))
    launch.agent = std::string(*agent);

  AgentCommand& command = launch.command;
  command.path = in.program_path;
  command.argv = {in.program_path};
  command.argv.insert(command.argv.end(), launch.session.args.begin(), launch.session.args.end());
  command.environment = agent_environment_pairs(inv.environment, in.run_id);
  command.cwd = inv.current_dir;
  command.cols = cols;
  command.rows = rows;
  return launch;
}

std::variant<StartedAgent, LoopResult> RunCommandImpl::start_or_fall_back(const LoopInput& in,
                                                                          const Launch& launch) {
  const RunInvocation& inv = *in.invocation;
  {
    std::lock_guard lock(slot_mutex_);
    // What came since the last run's end, in a restart's window, is kept:
    // a signal cancels the restart when the agent attaches, keys reach it.
    slot_.starting = true;
  }
  Result<StartedAgent> started = start_agent(launch.command);
  if (started) return std::move(*started);
  const std::string error = os_error_text(started.status());
  {
    std::lock_guard lock(slot_mutex_);
    slot_.starting = false;
  }
  if (in.automatic && env_is_one(inv.environment, "MOSSBANK_AUTO_RUN")) {
    note_runs_by_itself(inv.environment, "no-start: " + error);
    const RunOptions& options = *in.options;
    return end_with(
        run_agent_directly(in.program_path,
                           agent_args(options.program, in.agent_args, in.vocation_prompt), inv),
        true);
  }
  eprint("mossbank run: the agent didn't start: " + error + "\n");
  return end_with(1, true);
}

std::shared_ptr<RunShared> RunCommandImpl::build_run(const LoopInput& in, const Launch& launch,
                                                     const StartedAgent& started) {
  const RunInvocation& inv = *in.invocation;
  const RunOptions& options = *in.options;
  const bool stdout_terminal = isatty(STDOUT_FILENO) != 0;
  RegistrationInput reg;
  reg.invocation = &inv;
  reg.command = options.program;
  reg.run_id = in.run_id;
  reg.child_pid = started.process->process_id();
  reg.agent = launch.agent;
  reg.restartable = exit_command(reg.agent).has_value() &&
                    resume_args(options.program, launch.session.args, "x", {}).has_value();
  reg.stdout_terminal = stdout_terminal;
  reg.vocation_id = options.vocation_id;
  reg.session_id = launch.session.session_id;

  auto run = std::make_shared<RunShared>(launch.command.cols, launch.command.rows, inv.home_dir,
                                         in.run_id);
  run->agent = started.process;
  run->input = started.input;
  run->registration.exchange(build_registration(reg));
  run->restartable = reg.restartable;
  run->has_own_terminal.store(stdout_terminal);
  run->screen.agent = reg.agent;
  run->size.update([&](SizeRecord& size) {
    size.own_terminal =
        stdout_terminal && !env_var(inv.environment, "MOSSBANK_RUN_AS").value_or("").size();
  });
  run->poster = std::make_unique<Poster>(run->link);
  apply_stream_test_hook(run->output_streams, inv.environment);
  return run;
}

std::optional<LoopResult> RunCommandImpl::attach(const LoopInput& in,
                                                 const std::shared_ptr<RunShared>& run,
                                                 const StartedAgent& started) {
  std::string kept;
  {
    std::unique_lock lock(slot_mutex_);
    if (slot_.pending != PendingAction::none) {
      lock.unlock();
      started.process->kill(false);
      started.process->wait();
      // A restart that a signal cancelled takes the run off the daemon.
      if (std::optional<Route> route = std::exchange(restart_route_, std::nullopt);
          route && !village_off(in.invocation->home_dir))
        send_run_request(run->link, *route, "DELETE", run_path(in.run_id), nullptr);
      LoopResult r = end_with(1, true);
      std::lock_guard relock(slot_mutex_);
      r.restart_state = restart_state_of(slot_.pending);
      slot_.starting = false;
      return r;
    }
    slot_.run = run;
    slot_.agent = started.process;
    slot_.input = started.input;
    slot_.starting = false;
    kept.swap(slot_.kept_input);
  }
  if (!kept.empty()) {
    handle_user_input(Attached{run, started.process, started.input}, kept);
    wake_keys();  // its timed wait may now have a lone Esc to let go
  }
  return std::nullopt;
}

void RunCommandImpl::start_threads(RunThreads& threads, const std::shared_ptr<RunShared>& run,
                                   const RunInvocation& inv, const StartedAgent& started,
                                   PumpControl& pump_control) {
  // A watch that fails leaves the run going; the output pump ends it.
  auto goes_on = [run](std::string_view name, std::string_view why) {
    note_worker_failed(*run, name, why);
  };
  auto ends_run = [run](std::string_view name, std::string_view why) {
    note_worker_stopped(*run, name, why);
  };
  if (auto pid = setup_daemon_pid(inv.environment)) {
    threads.start(
        "daemon watch",
        [run, pid = *pid] {
          watch_daemon_pid(*run, static_cast<uint32_t>(pid),
                           [](uint32_t p) { return pid_gone(static_cast<int32_t>(p)); });
          return ok_status();
        },
        goes_on);
  }
  if (auto exe = platform::own_executable_path()) {
    if (auto bundle = app_bundle_of(*exe))
      threads.start(
          "update watch",
          [run, bundle = *bundle] {
            watch_bundle_update(*run, bundle, detach_from_village);
            return ok_status();
          },
          goes_on);
  }
  platform::mark_agent_output();
  threads.start(
      "output",
      [this, run, &pump_control, master = started.master, input = started.input] {
        run_output_pump(run, master, input, pump_control,
                        PumpTarget{STDOUT_FILENO, &stdout_mutex_});
        return ok_status();
      },
      ends_run);
  threads.start(
      "village's commands", [run] { return run_link(*run); }, goes_on);
  threads.start(
      "screen",
      [run] {
        run_mirror(run);
        return ok_status();
      },
      goes_on);
}

RunCommandImpl::Ending RunCommandImpl::weigh_restart(RunShared& run) {
  Ending ending;
  ending.end_reason =
      run.notes.update([](WorkerNotes& notes) { return std::exchange(notes.end_reason, {}); });
  const std::optional<PendingRestart> pending = run.pending_restart.exchange(std::nullopt);
  const bool upgrade = run.upgrade_requested.exchange(false);
  // A stop from the village cancels a restart asked for before it.
  if (!ending.end_reason && pending && !run.stopping.load() &&
      std::chrono::steady_clock::now() - pending->requested_mono <= kRestartWindow) {
    RestartRequest r;
    r.session_id = pending->session_id;
    r.upgrade = upgrade;
    r.launch_words = run.launch_words.exchange({});
    ending.restart = std::move(r);
  }
  return ending;
}

void RunCommandImpl::let_go_of_agent(bool restarting) {
  std::lock_guard lock(slot_mutex_);
  slot_.run.reset();
  slot_.agent.reset();
  slot_.input.reset();
  slot_.starting = restarting;
  slot_.pending = PendingAction::none;
}

void RunCommandImpl::give_back_terminal(RunShared& run, platform::RawMode& raw) {
  raw.restore();
  if (!run.has_own_terminal.load()) return;
  std::string reset;
  {
    std::lock_guard lock(run.screen_mutex);
    reset = end_reset(run.screen.terminal);
  }
  std::lock_guard lock(stdout_mutex_);
  write_all(STDOUT_FILENO, reset);
}

// No stream opens from now, the link and the mirror leave, every timed wait
// is woken.
void announce_end(RunShared& run) {
  run.stopping.store(true);
  {
    std::lock_guard lock(run.publisher_mutex);
    run.publisher.closed = true;
  }
  stop_link(run);
  run.waker.end();
}

RestartState RunCommandImpl::restart_window(bool restarting) {
  // A signal since the agent ended cancels the restart; one that comes
  // later is taken when the next agent attaches.
  if (!restarting) return RestartState::none;
  std::lock_guard lock(slot_mutex_);
  if (slot_.pending == PendingAction::none) return RestartState::none;
  const RestartState window = restart_state_of(slot_.pending);
  slot_.pending = PendingAction::none;
  slot_.starting = false;
  slot_.kept_input.clear();
  return window;
}

void RunCommandImpl::take_off_daemon(RunShared& run, const LoopInput& in, bool restarting) {
  // Taken off the daemon with the route it registered with: the link's own
  // teardown has cleared the live one.
  restart_route_.reset();
  if (restarting && !run.link.closed.load()) restart_route_ = registered_route(run.link);
  if (!restarting && !run.link.closed.load() && !village_off(in.invocation->home_dir)) {
    if (auto route = registered_route(run.link))
      send_run_request(run.link, *route, "DELETE", run_path(in.run_id), nullptr);
  }
}

LoopResult RunCommandImpl::report(RunShared& run, Ending& ending, int32_t code,
                                  RestartState window) {
  for (const std::string& note : run.notes.copy().failures)
    eprint("mossbank run: " + note + "; the run went on.\n");
  if (ending.end_reason) {
    eprint("mossbank run: " + *ending.end_reason + "; the run ended.\n");
    return end_with(1, true);
  }
  LoopResult result;
  result.exit_code = static_cast<uint8_t>(code & 0xFF);
  result.restart = std::move(ending.restart);
  result.restart_state = window;
  return result;
}

LoopResult RunCommandImpl::run_loop(const LoopInput& in) {
  std::variant<Launch, LoopResult> prepared = prepare_launch(in);
  if (auto* result = std::get_if<LoopResult>(&prepared)) return *result;
  const Launch& launch = std::get<Launch>(prepared);

  std::variant<StartedAgent, LoopResult> started_or = start_or_fall_back(in, launch);
  if (auto* result = std::get_if<LoopResult>(&started_or)) return *result;
  const StartedAgent& started = std::get<StartedAgent>(started_or);

  std::shared_ptr<RunShared> run = build_run(in, launch, started);
  if (std::optional<LoopResult> cancelled = attach(in, run, started)) return *cancelled;

  PumpControl pump_control;
  // Declared after what the threads borrow, so that on a path that skips
  // the run's end the agent is killed and the threads joined before those go.
  RunThreads threads([&] {
    if (!pump_control.exited()) {
      started.process->kill(true);
      started.process->wait();
      pump_control.agent_exited();
    }
    announce_end(*run);
  });
  start_threads(threads, run, *in.invocation, started, pump_control);

  platform::RawMode raw;
  const int32_t code = started.process->wait();
  pump_control.agent_exited();

  Ending ending = weigh_restart(*run);
  const bool restarting = ending.restart.has_value();
  let_go_of_agent(restarting);

  threads.join("output");  // all of the agent's output has reached stdout
  // The user's terminal comes back before anything waits on the daemon.
  give_back_terminal(*run, raw);

  announce_end(*run);
  threads.join_all();  // the link before the DELETE: no registration can follow it
  run->poster.reset();
  // The stream's last output and its end reach the daemon (bounded) before
  // the DELETE: a daemon may drop a run's streams when it is taken off.
  finish_output_stream(*run);
  const RestartState window = restart_window(restarting);
  take_off_daemon(*run, in, restarting && window == RestartState::none);
  run->jobs.join_all();
  return report(*run, ending, code, window);
}

}  // namespace

std::unique_ptr<RunCommand> RunCommand::start(const RunInvocation&) {
  return std::make_unique<RunCommandImpl>();
}

}  // namespace mossbank::run
