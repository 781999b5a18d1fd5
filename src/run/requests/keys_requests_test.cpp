#include "run/requests/keys_requests.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "run/session/hand_input.h"
#include "run/testing/test_files.h"
#include "run/testing/test_waits.h"
#include "screen/agent_menu.h"
#include "terminal/terminal.h"

namespace mossbank::run {
namespace {

using testing::agent_capture;

constexpr std::string_view kMarker = "<end>";
constexpr const char* kSession = "0f8fad5b-d9cb-469f-a165-70867728950e";

class KeysRequests : public ::testing::Test {
 protected:
  KeysRequests() {
    run->input = pipe.input;
    run->restartable = true;
  }
  ~KeysRequests() override {
    pipe.on_read(nullptr);
    run->waker.end();
    run->jobs.join_all();
  }

  // A fresh screen of the agent, drawn from `bytes`.
  void show(std::string_view agent, const std::string& bytes, uint32_t cols = 80,
            uint32_t rows = 24) {
    std::lock_guard lock(run->screen_mutex);
    run->screen.agent = std::string(agent);
    run->screen.terminal = terminal_new(cols, rows);
    terminal_process(run->screen.terminal, bytes);
    run->screen_changed_locked();
  }

  VillageRequest request(const char* command) {
    VillageRequest r;
    r.command = JsonValue::parse(command);
    r.type = r.command.value("type", "");
    r.request_id = "r1";
    r.input_generation = input_generation(*run);
    return r;
  }

  // The user types by hand: requests taken before are no longer current.
  void type_by_hand(std::string_view keys) {
    run->input->write(filter_user_keys(*run, keys, screen::KeyClock::now()).bytes);
  }

  // What reached the agent so far.
  std::string typed() {
    run->input->write(kMarker);
    return pipe.take_until(kMarker);
  }

  std::optional<PendingRestart> pending() { return run->pending_restart.copy(); }

  testing::ScratchDir home;
  testing::InputPipe pipe;
  std::shared_ptr<RunShared> run = std::make_shared<RunShared>(80, 24, home.path(), "run-1");
};

// The menu of Claude Code's approval question, as the village reads it.
class KeysInMenus : public KeysRequests {
 protected:
  KeysInMenus() {
    show("claude", agent_capture("claude/approval-bash-80x24.raw"));
    std::lock_guard lock(run->screen_mutex);
    menu = screen::read_menu("claude", screen_lines(run->screen.terminal));
  }
  std::optional<screen::Menu> menu;
};

TEST_F(KeysInMenus, KeysTakenOnlyForTheMenuTheVillageSaw) {
  ASSERT_TRUE(menu.has_value());
  ASSERT_EQ(menu->selected, std::optional<size_t>(0));
  std::string differs = menu->text;
  differs.back() = differs.back() == 'o' ? 'x' : 'o';

  struct Case {
    std::string what;
    JsonValue keys;
    std::optional<JsonValue> expect;
    std::string outcome;
    std::optional<std::string> typed;  // the keys, when not as given
  };
  auto expect = [&](const std::string& signature) { return JsonValue{{"signature", signature}}; };
  auto expect_selected = [&](JsonValue selected) {
    JsonValue e = expect(menu->text);
    e["selected"] = std::move(selected);
    return e;
  };
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string sixteen_emoji;
  for (int i = 0; i < 16; ++i) sixteen_emoji += emoji;
  const std::vector<Case> cases = {
      {"the menu as read", "1", expect(menu->text), "sent", std::nullopt},
      {"32 units", std::string(32, 'j'), expect(menu->text), "sent", std::nullopt},
      {"33 units", std::string(33, 'j'), expect(menu->text), "failed", std::nullopt},
      {"16 emoji are 32 units", sixteen_emoji, expect(menu->text), "sent", std::nullopt},
      {"17 emoji are 34 units", sixteen_emoji + emoji, expect(menu->text), "failed", std::nullopt},
      {"no keys", "", expect(menu->text), "failed", std::nullopt},
      {"keys not a text", 1, expect(menu->text), "failed", std::nullopt},
      {"no expect", "1", std::nullopt, "failed", std::nullopt},
      {"expect not an object", "1", JsonValue(menu->text), "failed", std::nullopt},
      {"no signature", "1", JsonValue{{"selected", 0}}, "failed", std::nullopt},
      {"signature not a text", "1", JsonValue{{"signature", 7}}, "failed", std::nullopt},
      {"one character differs", "1", expect(differs), "failed", std::nullopt},
      {"selected as shown", "\r", expect_selected(0), "sent", std::nullopt},
      {"selected as a float", "\r", expect_selected(0.0), "sent", std::nullopt},
      {"another selection", "\r", expect_selected(2), "failed", std::nullopt},
      {"a fraction", "\r", expect_selected(0.5), "failed", std::nullopt},
      {"selected not a number", "\r", expect_selected("2"), "sent", std::nullopt},
      {"a focus report among the keys", "\x1b[I2", expect(menu->text), "sent", "2"},
  };
  for (const Case& c : cases) {
    JsonValue command = JsonValue{{"type", "keys"}, {"requestId", "r1"}, {"keys", c.keys}};
    if (c.expect) command["expect"] = *c.expect;
    VillageRequest r = request("{}");
    r.command = command;
    EXPECT_EQ(serve_keys_request(*run, r), c.outcome) << c.what;
    EXPECT_EQ(typed(), c.outcome == "sent" ? c.typed.value_or(c.keys.get<std::string>()) : "")
        << c.what;
  }
}

TEST_F(KeysInMenus, NoMenuOrAStoppingRunTypesNothing) {
  ASSERT_TRUE(menu.has_value());
  JsonValue command =
      JsonValue{{"type", "keys"}, {"keys", "1"}, {"expect", {{"signature", menu->text}}}};
  VillageRequest r = request("{}");
  r.command = command;
  run->stopping.store(true);
  EXPECT_EQ(serve_keys_request(*run, r), "failed");
  run->stopping.store(false);
  type_by_hand("x");
  EXPECT_EQ(serve_keys_request(*run, r), "failed");
  EXPECT_EQ(typed(), "x");
  r.input_generation = input_generation(*run);
  show("claude", agent_capture("claude/idle-80x24.raw"));
  EXPECT_EQ(serve_keys_request(*run, r), "failed");
  EXPECT_EQ(typed(), "");
}

// Codex's agent command center: a heading, the session tabs, a footer that
// may offer Esc to go back.
std::string command_center(std::string_view footer) {
  return "Agent command center\r\n\r\nAll 3   Needs you 1   Running 2\r\n\r\n"
         "  fix the flaky test        needs you\r\n  write the docs\r\n\r\n" +
         std::string(footer);
}

TEST_F(KeysRequests, TheCommandCenterTakesOnlyItsEsc) {
  struct Case {
    std::string what;
    std::string footer;
    std::string keys;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {"Esc back offered", "? help   esc back   \u2191/\u2193 move   enter open   n new", "\x1b",
       "sent"},
      {"no Esc back offered", "? help   \u2191/\u2193 move   enter open   n new", "\x1b", "failed"},
      {"another key", "? help   esc back   \u2191/\u2193 move   enter open   n new", "n", "failed"},
      {"two Esc", "? help   esc back   \u2191/\u2193 move   enter open   n new", "\x1b\x1b",
       "failed"},
  };
  for (const Case& c : cases) {
    show("codex", command_center(c.footer));
    std::optional<screen::Menu> menu;
    {
      std::lock_guard lock(run->screen_mutex);
      menu = screen::read_menu("codex", screen_lines(run->screen.terminal));
    }
    ASSERT_TRUE(menu.has_value()) << c.what;
    ASSERT_EQ(menu->title, "Agent command center") << c.what;
    VillageRequest r = request("{}");
    r.command =
        JsonValue{{"type", "keys"}, {"keys", c.keys}, {"expect", {{"signature", menu->text}}}};
    EXPECT_EQ(serve_keys_request(*run, r), c.outcome) << c.what;
    EXPECT_EQ(typed(), c.outcome == "sent" ? c.keys : "") << c.what;
  }
}

// A busy Ctrl-C agent: its last rows say how to interrupt it.
const char* kBusyScreen = "\x1b[20;1H\xE2\xA0\x8B Thinking... (ctrl+c to interrupt)";

TEST_F(KeysRequests, InterruptKeysPerAgent) {
  struct Case {
    std::string agent;
    std::string screen;
    std::string outcome;
    std::string keys;
  };
  const std::string idle = agent_capture("claude/idle-80x24.raw");
  const std::vector<Case> cases = {
      {"claude", idle, "sent", "\x1b"},
      {"claude", agent_capture("claude/approval-bash-80x24.raw"), "permission", ""},
      {"opencode", "", "sent", "\x1b\x1b"},
      {"copilot", "plain text", "sent", "\x1b\x1b"},
      {"codex", "", "sent", "\x1b"},
      {"grok", "", "empty", ""},
      {"goose", "> ", "empty", ""},
      {"goose", kBusyScreen, "sent", "\x03"},
      {"grok", kBusyScreen, "sent", "\x03"},
      {"", "", "sent", "\x1b"},
  };
  for (const Case& c : cases) {
    show(c.agent, c.screen);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(serve_interrupt_request(*run, request(R"({"type":"interrupt"})")), c.outcome)
        << c.agent;
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(typed(), c.keys) << c.agent;
    // Two keys go one gap apart; a wait never ends early.
    if (c.keys.size() == 2) {
      EXPECT_GE(took, kInterruptKeyGap) << c.agent;
    }
  }
}

TEST_F(KeysRequests, InterruptByCtrlCLeavesTheUsersDraft) {
  show("goose", kBusyScreen);
  type_by_hand("half a line");
  EXPECT_EQ(typed(), "half a line");
  EXPECT_EQ(serve_interrupt_request(*run, request(R"({"type":"interrupt"})")), "draft");
  // An Esc agent interrupts all the same.
  show("claude", agent_capture("claude/busy-spinner-120x40.raw"), 120, 40);
  EXPECT_EQ(serve_interrupt_request(*run, request(R"({"type":"interrupt"})")), "sent");
  EXPECT_EQ(typed(), "\x1b");
}

TEST_F(KeysRequests, InterruptOfARequestNoLongerCurrentFails) {
  show("opencode", "");
  VillageRequest r = request(R"({"type":"interrupt"})");
  type_by_hand("x");
  EXPECT_EQ(typed(), "x");
  EXPECT_EQ(serve_interrupt_request(*run, r), "failed");
  EXPECT_EQ(typed(), "");
}

TEST_F(KeysRequests, InterruptOfAStoppingRunFails) {
  for (const char* agent : {"claude", "opencode"}) {
    show(agent, "");
    run->stopping.store(true);
    EXPECT_EQ(serve_interrupt_request(*run, request(R"({"type":"interrupt"})")), "failed") << agent;
    run->stopping.store(false);
  }
  show("goose", kBusyScreen);
  run->stopping.store(true);
  EXPECT_EQ(serve_interrupt_request(*run, request(R"({"type":"interrupt"})")), "failed");
  EXPECT_EQ(typed(), "");
}

TEST(LaunchWords, Checks) {
  struct Case {
    const char* command;
    std::optional<std::vector<std::string>> words;
  };
  using Words = std::vector<std::string>;
  const std::string sixteen =
      R"(["a","b","c","d","e","f","g","h","i","j","k","l","m","n","o","p"])";
  const std::string seventeen =
      R"(["a","b","c","d","e","f","g","h","i","j","k","l","m","n","o","p","q"])";
  const std::string hundred = "[\"" + std::string(100, 'x') + "\"]";
  const std::string hundred_one = "[\"" + std::string(101, 'x') + "\"]";
  const std::vector<std::pair<std::string, std::optional<Words>>> cases = {
      {R"({})", Words{}},
      {R"({"launch":[]})", Words{}},
      {R"({"launch":["--model","opus[1m]","--effort=high","-c","a.b:c/d=e-f"]})",
       Words{"--model", "opus[1m]", "--effort=high", "-c", "a.b:c/d=e-f"}},
      {"{\"launch\":" + sixteen + "}",
       Words{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p"}},
      {"{\"launch\":" + seventeen + "}", std::nullopt},
      {"{\"launch\":" + hundred + "}", Words{std::string(100, 'x')}},
      {"{\"launch\":" + hundred_one + "}", std::nullopt},
      {R"({"launch":[""]})", std::nullopt},
      {R"({"launch":["a b"]})", std::nullopt},
      {R"({"launch":["-c","model_reasoning_effort=high"]})",
       Words{"-c", "model_reasoning_effort=high"}},
      {R"({"launch":["a,b"]})", std::nullopt},
      {R"({"launch":["caf\u00e9"]})", std::nullopt},
      {R"({"launch":[1]})", std::nullopt},
      {R"({"launch":"--model"})", std::nullopt},
      {R"({"launch":null})", std::nullopt},
      {R"({"launch":{}})", std::nullopt},
  };
  for (const auto& [command, words] : cases)
    EXPECT_EQ(launch_words_of(JsonValue::parse(command)), words) << command;
}

std::string restart_command(const std::string& extra = "") {
  return std::string(R"({"type":"restart","requestId":"r1","sessionId":")") + kSession + "\"" +
         extra + "}";
}

TEST_F(KeysRequests, RestartRefusals) {
  const std::string idle = agent_capture("claude/idle-80x24.raw");
  struct Case {
    std::string what;
    std::string agent;
    std::string extra;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {"no exit command", "opencode", "", "unavailable"},
      {"an unknown agent", "", "", "unavailable"},
      {"a bad launch", "claude", R"(,"launch":["a b"])", "unavailable"},
      {"a launch that is no list", "claude", R"(,"launch":"--model")", "unavailable"},
      {"again", "claude", R"(,"again":true)", "sent"},
  };
  for (const Case& c : cases) {
    show(c.agent, idle);
    EXPECT_EQ(serve_restart_request(*run, request(restart_command(c.extra).c_str())), c.outcome)
        << c.what;
    EXPECT_EQ(typed(), "") << c.what;
    EXPECT_FALSE(pending().has_value()) << c.what;
  }

  // A run whose command line cannot be resumed takes no restart.
  show("claude", idle);
  run->restartable = false;
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "unavailable");
  run->restartable = true;

  // The agent works: by the activity record, or by its screen.
  {
    std::lock_guard lock(run->activity_mutex);
    run->activity.working = true;
  }
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "busy");
  {
    std::lock_guard lock(run->activity_mutex);
    run->activity.working = false;
  }
  show("claude", agent_capture("claude/busy-spinner-120x40.raw"), 120, 40);
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "busy");

  // No box to type into: the exit command is refused, and nothing stays pending.
  show("claude", "");
  run->upgrade_requested.store(false);
  EXPECT_EQ(serve_restart_request(*run, request(restart_command(R"(,"upgrade":true)").c_str())),
            "permission");
  EXPECT_FALSE(pending().has_value());
  EXPECT_FALSE(run->upgrade_requested.load());
  EXPECT_EQ(typed(), "");
}

TEST_F(KeysRequests, RestartTypesTheExitCommandAfterStoringTheRestart) {
  show("claude", agent_capture("claude/idle-80x24.raw"));
  std::mutex seen_mutex;
  std::optional<bool> pending_at_enter;
  pipe.on_read([&](const std::string& piece) {
    if (piece.find('\r') == std::string::npos) return;
    std::lock_guard lock(seen_mutex);
    pending_at_enter = pending().has_value();
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(
      serve_restart_request(
          *run, request(restart_command(R"(,"launch":["--model","opus"],"upgrade":true)").c_str())),
      "sent");
  EXPECT_EQ(typed(), "/exit\r");
  {
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(pending_at_enter, std::optional<bool>(true));
  }
  std::optional<PendingRestart> stored = pending();
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->session_id, kSession);
  EXPECT_GE(stored->requested_mono, before);
  EXPECT_TRUE(run->upgrade_requested.load());
  EXPECT_EQ(run->launch_words.copy(), (std::vector<std::string>{"--model", "opus"}));

  // A second restart within the window answers at once and types nothing.
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "sent");
  EXPECT_EQ(typed(), "");
}

TEST_F(KeysRequests, RestartWindowIsOnTheMonotonicClock) {
  show("claude", agent_capture("claude/idle-80x24.raw"));
  const auto now = std::chrono::steady_clock::now();
  struct Case {
    std::string what;
    double requested_at;
    std::chrono::steady_clock::time_point requested_mono;
    bool pending;
  };
  const std::vector<Case> cases = {
      {"the wall clock went back a day", now_ms() + 86400000.0, now, true},
      {"the wall clock went on a day", now_ms() - 86400000.0, now, true},
      {"60,001 ms ago", now_ms(), now - std::chrono::milliseconds(60001), false},
  };
  for (const Case& c : cases) {
    run->pending_restart.exchange(PendingRestart{kSession, c.requested_at, c.requested_mono});
    EXPECT_EQ(restart_pending(*run, now), c.pending) << c.what;
  }
  EXPECT_TRUE(restart_pending(*run, now - std::chrono::milliseconds(1)));
  EXPECT_TRUE(restart_pending(*run, now - std::chrono::milliseconds(60001) + kRestartWindow));

  // An old restart is no longer pending: the next one types the exit command again.
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "sent");
  EXPECT_EQ(typed(), "/exit\r");
}

TEST_F(KeysRequests, AQuestionAfterTheExitCommandCancelsTheRestart) {
  show("claude", agent_capture("claude/idle-80x24.raw"));
  run->upgrade_requested.store(false);
  EXPECT_EQ(serve_restart_request(*run, request(restart_command(R"(,"upgrade":true)").c_str())),
            "sent");
  EXPECT_EQ(typed(), "/exit\r");
  // The agent asks instead of exiting; the watch answers it with one Esc.
  show("claude", agent_capture("claude/approval-bash-80x24.raw"));
  EXPECT_EQ(pipe.take_until("\x1b"), "");
  run->jobs.join_all();
  EXPECT_FALSE(pending().has_value());
  EXPECT_FALSE(run->upgrade_requested.load());
  EXPECT_TRUE(run->restart_cancelled.load());
  EXPECT_EQ(typed(), "");

  // The next restart hears of it once.
  show("claude", agent_capture("claude/idle-80x24.raw"));
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "permission");
  EXPECT_FALSE(run->restart_cancelled.load());
  EXPECT_EQ(typed(), "");
  EXPECT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "sent");
  EXPECT_EQ(typed(), "/exit\r");
}

TEST_F(KeysRequests, TheWatchLeavesAnExitedOrStoppedRunAlone) {
  for (bool stopped : {false, true}) {
    show("claude", agent_capture("claude/idle-80x24.raw"));
    run->pending_restart.exchange(std::nullopt);
    ASSERT_EQ(serve_restart_request(*run, request(restart_command().c_str())), "sent") << stopped;
    EXPECT_EQ(typed(), "/exit\r");
    if (stopped) {
      run->stopping.store(true);
    } else {
      // The run loop took the restart when the agent exited.
      run->pending_restart.exchange(std::nullopt);
    }
    show("claude", agent_capture("claude/approval-bash-80x24.raw"));
    run->jobs.join_all();  // the watch ends at its next look
    EXPECT_FALSE(run->restart_cancelled.load()) << stopped;
    EXPECT_EQ(typed(), "") << stopped;
  }
}

}  // namespace
}  // namespace mossbank::run
