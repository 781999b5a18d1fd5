#include "run/start/restart_loop.h"

#include <gtest/gtest.h>

#include <deque>

namespace mossbank::run {
namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;

const std::string S = "0123abcd-0123-4567-89ab-0123456789ab";
const std::string kStarting =
    "\r\nMossbank: starting the agent again in the same conversation\u2026\r\n";
std::string hint(const std::string& what, const std::string& command) {
  return "\r\n\nMossbank: " + what + ". `" + command + "` takes the conversation up again.\r\n";
}
const std::string kDidnt = "the agent didn\u2019t start again";
const std::string kCancelled = "the restart was cancelled";

// One run of the loop as the script has it: how long it lasts and what it
// answers.
struct Step {
  milliseconds lasts{0};
  LoopResult result;
};

LoopResult exit_with(uint8_t code, bool from_wrapper = false,
                     RestartState state = RestartState::none) {
  LoopResult r;
  r.exit_code = code;
  r.code_from_wrapper = from_wrapper;
  r.restart_state = state;
  return r;
}

LoopResult restart_with(Args launch = {}, bool upgrade = false, uint8_t code = 0,
                        RestartState state = RestartState::none, bool from_wrapper = false) {
  LoopResult r = exit_with(code, from_wrapper, state);
  r.restart = RestartRequest{S, std::move(launch), upgrade};
  return r;
}

class ScriptedRuns : public RunCommand {
 public:
  ScriptedRuns(std::vector<Step> steps, std::chrono::steady_clock::time_point& clock)
      : steps_(steps.begin(), steps.end()), clock_(clock) {}
  LoopResult run_loop(const LoopInput& input) override {
    inputs.push_back(input);
    Step step = steps_.front();
    steps_.pop_front();
    clock_ += step.lasts;
    return step.result;
  }
  std::vector<LoopInput> inputs;

 private:
  std::deque<Step> steps_;
  std::chrono::steady_clock::time_point& clock_;
};

struct Outcome {
  uint8_t code = 0;
  std::string said;
  std::vector<Args> runs;  // each run's agent arguments
  std::vector<HandoverInput> handovers;
};

Outcome run_script(const std::string& program, Args args, std::vector<Step> steps) {
  std::chrono::steady_clock::time_point clock{};
  ScriptedRuns runs(std::move(steps), clock);
  RunInvocation invocation;
  invocation.home_dir = "/home/u/.mossbank";
  invocation.environment = {{"PATH", "/bin"}};
  invocation.pid = 77;
  RunOptions options;
  options.program = program;
  options.args = args;
  LoopInput input;
  input.invocation = &invocation;
  input.options = &options;
  input.run_id = "run-1";
  input.agent_args = args;
  Outcome out;
  RestartLoopDeps deps;
  deps.now = [&clock] { return clock; };
  deps.hand_over = [&out](const HandoverInput& h) { out.handovers.push_back(h); };
  deps.own_executable = [] { return std::optional<std::string>("/app/cli/bin/mossbank"); };
  ::testing::internal::CaptureStderr();
  RunOutcome outcome = restart_loop(runs, invocation, options, input, deps);
  out.said = ::testing::internal::GetCapturedStderr();
  out.code = std::get<RunExit>(outcome).code;
  for (size_t i = 0; i < runs.inputs.size(); ++i) {
    out.runs.push_back(runs.inputs[i].agent_args);
    EXPECT_EQ(runs.inputs[i].first_run, i == 0);
    EXPECT_EQ(runs.inputs[i].run_id, "run-1");
  }
  return out;
}

TEST(RestartLoop, OneRunPassesItsCodeThrough) {
  Outcome o = run_script("claude", {"--verbose"}, {{milliseconds(5), exit_with(3)}});
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.said, "");
  EXPECT_EQ(o.runs, std::vector<Args>{{"--verbose"}});
}

TEST(RestartLoop, ARestartTakesTheConversationUpWithTheLaunchWords) {
  Outcome o = run_script(
      "claude", {"--model", "m"},
      {{milliseconds(5), restart_with({"--model", "n"})}, {milliseconds(30000), exit_with(0)}});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.said, kStarting);
  EXPECT_EQ(o.runs, (std::vector<Args>{{"--model", "m"}, {"--resume", S, "--model", "n"}}));
  EXPECT_TRUE(o.handovers.empty());
}

TEST(RestartLoop, HowTheRestartedRunEndedDecidesTheHint) {
  const std::string didnt = hint(kDidnt, "claude --resume " + S);
  const std::string cancelled = hint(kCancelled, "claude --resume " + S);
  const struct {
    const char* name;
    Step second;
    std::string said;
  } cases[] = {
      {"code 0 after 2 s", {milliseconds(2000), exit_with(0)}, ""},
      {"code 1 after 2 s", {milliseconds(2000), exit_with(1)}, didnt},
      {"code 1 after 11 s", {milliseconds(11000), exit_with(1)}, ""},
      {"the wrapper's own code after 2 s", {milliseconds(2000), exit_with(0, true)}, didnt},
      {"interrupted",
       {milliseconds(60000), exit_with(0, false, RestartState::interrupted)},
       cancelled},
      {"terminated", {milliseconds(60000), exit_with(0, false, RestartState::terminated)}, didnt},
  };
  for (const auto& c : cases) {
    Outcome o = run_script("/usr/bin/claude", {}, {{milliseconds(1), restart_with()}, c.second});
    EXPECT_EQ(o.said, kStarting + c.said) << c.name;
    EXPECT_EQ(o.code, c.second.result.exit_code) << c.name;
  }
}

TEST(RestartLoop, ARestartThatCannotHappenEndsTheCommand) {
  const struct {
    const char* name;
    std::string program;
    LoopResult first;
    std::string said;
    uint8_t code;
  } cases[] = {
      {"the wrapper's own code", "claude", restart_with({}, false, 1, RestartState::none, true), "",
       1},
      {"interrupted meanwhile", "claude", restart_with({}, false, 0, RestartState::interrupted),
       hint(kCancelled, "claude --resume " + S), 0},
      {"terminated meanwhile", "claude", restart_with({}, false, 0, RestartState::terminated), "",
       0},
      {"an agent without resume", "grok", restart_with(), "", 0},
  };
  for (const auto& c : cases) {
    Outcome o = run_script(c.program, {}, {{milliseconds(1), c.first}});
    EXPECT_EQ(o.runs.size(), 1u) << c.name;
    EXPECT_EQ(o.said, c.said) << c.name;
    EXPECT_EQ(o.code, c.code) << c.name;
  }
  // A command line that cannot be rebuilt (a prompt word) is not restarted.
  Outcome o = run_script("claude", {"fix the bug"}, {{milliseconds(1), restart_with()}});
  EXPECT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(o.said, "");
}

TEST(RestartLoop, AnUpgradeOffersTheRunToTheSuccessorFirst) {
  Outcome o =
      run_script("codex", {"-m", "o3"},
                 {{milliseconds(1), restart_with({}, true)}, {milliseconds(20000), exit_with(0)}});
  ASSERT_EQ(o.handovers.size(), 1u);
  const HandoverInput& h = o.handovers[0];
  EXPECT_EQ(h.resume_args, (Args{"resume", S, "-m", "o3"}));
  EXPECT_EQ(h.run_id, "run-1");
  EXPECT_EQ(h.pid, 77u);
  EXPECT_EQ(h.own_executable, "/app/cli/bin/mossbank");
  EXPECT_EQ(h.home_dir, "/home/u/.mossbank");
  EXPECT_EQ(h.options.program, "codex");
  // No successor took it: the agent starts again here.
  EXPECT_EQ(o.runs, (std::vector<Args>{{"-m", "o3"}, {"resume", S, "-m", "o3"}}));
}

}  // namespace
}  // namespace mossbank::run
