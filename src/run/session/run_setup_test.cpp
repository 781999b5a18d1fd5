#include "run/session/run_setup.h"

#include <gtest/gtest.h>

#include "run/link/frames.h"
#include "run/session/terminal_reset.h"

namespace mossbank::run {
namespace {

TEST(RunSize, FromTheVariable) {
  struct Case {
    std::optional<std::string> text;
    std::pair<uint16_t, uint16_t> size;
  };
  const Case cases[] = {
      {"120x40", {120, 40}},  {"2x2", {2, 2}},        {"1x50", {80, 24}},       {"120x1", {80, 24}},
      {"abc", {80, 24}},      {"12345x40", {80, 24}}, {"x40", {80, 24}},        {"120x", {80, 24}},
      {"120x40x2", {80, 24}}, {" 120x40", {80, 24}},  {std::nullopt, {80, 24}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parse_run_size(c.text), c.size) << c.text.value_or("(unset)");
}

TEST(AgentEnvironment, OwnVariablesGoRunIdComesTermDefaults) {
  EnvPairs env = {{"PATH", "/bin"},
                  {"MOSSBANK_RUN_HOST", "h"},
                  {"MOSSBANK_RUN_ID", "old"},
                  {"MOSSBANK_AUTO_RUN_WHY", "1"},
                  {"mossbank_run_as", "x"}};
  EnvPairs out = agent_environment_pairs(env, "run-1");
  EnvPairs want = {{"PATH", "/bin"},
                   {"MOSSBANK_AUTO_RUN_WHY", "1"},
                   {"mossbank_run_as", "x"},
                   {"MOSSBANK_RUN_ID", "run-1"},
                   {"TERM", "xterm-256color"}};
  EXPECT_EQ(out, want);

  env.emplace_back("MOSSBANK_RUN_PANEL_SHELL", "1");
  env.emplace_back("TERM", "screen");
  out = agent_environment_pairs(env, "run-1");
  want = {{"PATH", "/bin"},
          {"MOSSBANK_RUN_ID", "old"},
          {"MOSSBANK_AUTO_RUN_WHY", "1"},
          {"mossbank_run_as", "x"},
          {"TERM", "screen"}};
  EXPECT_EQ(out, want);
}

TEST(Registration, KeysInOrder) {
  RunInvocation inv;
  inv.environment = {{"MOSSBANK_VILLAGE_TERMINAL", "1"}, {"MOSSBANK_RUN_PANEL_SHELL", "1"}};
  inv.current_dir = "/work";
  inv.version = "9.9.9";
  inv.started_at_ms = 1700000000000;
  inv.pid = 42;
  RegistrationInput in;
  in.invocation = &inv;
  in.command = "claude";
  in.run_id = "r1";
  in.child_pid = 43;
  in.restartable = true;
  in.agent = "claude";
  in.stdout_terminal = false;
  in.vocation_id = "planner";
  in.session_id = "s1";
  EXPECT_EQ(to_js_json(build_registration(in)),
            R"({"runId":"r1","command":"claude","cwd":"/work","pid":42,"villageOwned":true,)"
            R"("wrapperVersion":"9.9.9","wrapperApi":211,"input":true,"interrupt":true,)"
            R"("childPid":43,"panelShell":true,"restart":true,"upgrade":true,"receipts":true,)"
            R"("binding":true,"stream":true,"resize":true,"startedAt":1700000000000,"lines":true,)"
            R"("vocationId":"planner","sessionId":"s1"})");

  // The fewest keys: no pid from the child, a terminal of its own.
  inv.environment = {};
  in.child_pid.reset();
  in.restartable = false;
  in.agent = "codex";
  in.stdout_terminal = true;
  in.vocation_id = "";
  in.session_id.reset();
  EXPECT_EQ(
      to_js_json(build_registration(in)),
      R"({"runId":"r1","command":"claude","cwd":"/work","pid":42,"villageOwned":false,)"
      R"("wrapperVersion":"9.9.9","wrapperApi":211,"input":true,"interrupt":true,)"
      R"("binding":true,"stream":true,"startedAt":1700000000000,"lines":true,"resizable":true})");
}

TEST(Registration, VillageOwnedAndResizable) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> env;
    bool stdout_terminal;
    bool owned;
    bool resizable;
  };
  const std::string id = "abcdefgh-1234";
  const Case cases[] = {
      {{{"MOSSBANK_RUN_AS", id}}, true, true, false},
      {{{"MOSSBANK_RUN_HOST", id}}, false, true, true},
      {{{"MOSSBANK_RUN_HOST", "short"}}, false, false, false},
      {{{"MOSSBANK_VILLAGE_TERMINAL", "true"}}, true, false, true},
  };
  for (const Case& c : cases) {
    RunInvocation inv;
    inv.environment = c.env;
    RegistrationInput in;
    in.invocation = &inv;
    in.run_id = id;
    in.stdout_terminal = c.stdout_terminal;
    JsonValue r = build_registration(in);
    EXPECT_EQ(r["villageOwned"], c.owned);
    EXPECT_EQ(r.contains("resizable"), c.resizable);
  }
}

TEST(EndReset, OnlyWhatTheAgentLeftOnAndTheKeyboardPop) {
  Terminal t = terminal_new(80, 24);
  EXPECT_EQ(end_reset(t), "\x1b[<u");
  terminal_process(t, "\x1b[?2004h\x1b[?1004h");
  EXPECT_EQ(end_reset(t), "\x1b[?1004l\x1b[?2004l\x1b[<u");

  Terminal full = terminal_new(80, 24);
  terminal_process(
      full,
      "\x1b[?1049h\x1b[?1002h\x1b[?25l\x1b[?1h\x1b=\x1b[3;10r\x1b[?7l\x1b[4h\x1b(0\x1b[1;31m");
  const std::string reset = end_reset(full);
  for (const char* part : {"\x1b[?1000l", "\x1b[?1016l", "\x1b[?1049l", "\x1b[?1l", "\x1b>",
                           "\x1b"
                           "7\x1b[r\x1b"
                           "8",
                           "\x1b[?7h", "\x1b[4l", "\x1b(B", "\x1b[m", "\x1b[?25h", "\x1b[<u"})
    EXPECT_NE(reset.find(part), std::string::npos) << part;
}

TEST(Frames, Encoding) {
  EXPECT_EQ(encode_frame(size_frame(120, 40)), std::string("S\0\0\0\x04\0\x78\0\x28", 9));
  EXPECT_EQ(encode_frame(data_frame("hi")), std::string("D\0\0\0\x02hi", 7));
  EXPECT_EQ(encode_frame(head_frame(0x0102030405060708)),
            std::string("H\0\0\0\x08\x01\x02\x03\x04\x05\x06\x07\x08", 13));
  Frame snap = snapshot_frame(std::string(300, 'n'), 5, 7, 80, 24, "screen");
  ASSERT_EQ(snap.body.size(), 1 + 255 + 8 + 4 + 2 + 2 + 6u);
  EXPECT_EQ(static_cast<unsigned char>(snap.body[0]), 255);
  EXPECT_EQ(snap.body.substr(256, 8), std::string("\0\0\0\0\0\0\0\x05", 8));
  EXPECT_EQ(snap.body.substr(264, 4), std::string("\0\0\0\x07", 4));
  EXPECT_EQ(snap.body.substr(268), std::string("\0\x50\0\x18screen", 10));
  EXPECT_EQ(snap.accounted_size(), 8u);
  EXPECT_EQ(data_frame("12345678901").accounted_size(), 11u);
}

}  // namespace
}  // namespace mossbank::run
