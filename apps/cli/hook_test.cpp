#include "cli/hook.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "base/hex.h"
#include "base/json.h"
#include "daemon/config.h"

namespace mossbank::cli {
namespace {

namespace fs = std::filesystem;

class HookRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/mossbank-hook-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    write_config(
        R"({"port": 4999, "token": "tttttttttttttttt0", "hookToken": "hhhhhhhhhhhhhhhh0"})");
  }
  void TearDown() override { fs::remove_all(home_); }

  void write_config(const std::string& text) { std::ofstream(home_ + "/config.json") << text; }

  EnvLookup env() const {
    return [this](const char* name) -> std::optional<std::string> {
      auto it = env_.find(name);
      if (it == env_.end()) return std::nullopt;
      return it->second;
    };
  }

  std::optional<HookRequest> build(const HookArgs& args) {
    return build_hook_request(args, home_, env(), home_ + "/user");
  }

  static std::map<std::string, std::string> header_map(const HookRequest& r) {
    std::map<std::string, std::string> m;
    for (auto& [k, v] : r.headers) m[k] = v;
    return m;
  }

  std::string home_;
  std::map<std::string, std::string> env_;
};

HookArgs plain(std::optional<std::string> agent = std::nullopt) {
  HookArgs a;
  a.payload = "{}";
  a.agent = std::move(agent);
  a.pid = 4242;
  return a;
}

TEST_F(HookRequestTest, QueryFollowsAgentEventDecidesAndKind) {
  struct Case {
    const char* name;
    std::function<void(HookArgs&)> edit;
    std::map<std::string, std::string> env;
    std::string path;
  };
  const Case cases[] = {
      {"no agent", [](HookArgs&) {}, {}, "/api/hook"},
      {"agent", [](HookArgs& a) { a.agent = "codex"; }, {}, "/api/hook?agent=codex"},
      {"grok via claude",
       [](HookArgs& a) { a.agent = "claude"; },
       {{"GROK_HOOK_EVENT", "x"}, {"GROK_SESSION_ID", "y"}},
       "/api/hook?agent=grok&via=claude"},
      {"grok without agent",
       [](HookArgs&) {},
       {{"GROK_HOOK_EVENT", "x"}, {"GROK_SESSION_ID", "y"}},
       "/api/hook?agent=grok&via=claude"},
      {"only one grok variable",
       [](HookArgs& a) { a.agent = "claude"; },
       {{"GROK_HOOK_EVENT", "x"}},
       "/api/hook?agent=claude"},
      {"empty grok variable",
       [](HookArgs& a) { a.agent = "claude"; },
       {{"GROK_HOOK_EVENT", "x"}, {"GROK_SESSION_ID", ""}},
       "/api/hook?agent=claude"},
      {"grok does not replace another agent",
       [](HookArgs& a) { a.agent = "codex"; },
       {{"GROK_HOOK_EVENT", "x"}, {"GROK_SESSION_ID", "y"}},
       "/api/hook?agent=codex"},
      {"event",
       [](HookArgs& a) {
         a.agent = "claude";
         a.event = "PreToolUse";
       },
       {},
       "/api/hook?agent=claude&event=PreToolUse"},
      {"event with underscore left out",
       [](HookArgs& a) { a.event = "Pre_Tool"; },
       {},
       "/api/hook"},
      {"event of 41 letters left out",
       [](HookArgs& a) { a.event = std::string(41, 'a'); },
       {},
       "/api/hook"},
      {"event of 40 letters",
       [](HookArgs& a) { a.event = std::string(40, 'a'); },
       {},
       "/api/hook?event=" + std::string(40, 'a')},
      {"wait question with decides",
       [](HookArgs& a) {
         a.kind = HookKind::wait_question;
         a.decides = "claude";
       },
       {},
       "/api/hook?decides=claude&wait=1"},
      {"empty decides left out",
       [](HookArgs& a) {
         a.kind = HookKind::wait;
         a.decides = "";
       },
       {},
       "/api/hook?wait=1"},
      {"decides percent-encoded",
       [](HookArgs& a) {
         a.kind = HookKind::step;
         a.decides = "a b\xC3\xA9/-_.!~*'()";
       },
       {},
       "/api/hook?decides=a%20b%C3%A9%2F-_.!~*'()&step=1"},
      {"waiter", [](HookArgs& a) { a.kind = HookKind::waiter; }, {}, "/api/hook?waiter=1"},
      {"handover", [](HookArgs& a) { a.kind = HookKind::handover; }, {}, "/api/hook?handover=1"},
  };
  for (const auto& c : cases) {
    env_ = c.env;
    HookArgs args = plain();
    c.edit(args);
    auto r = build(args);
    ASSERT_TRUE(r) << c.name;
    EXPECT_EQ(r->path, c.path) << c.name;
  }
}

TEST_F(HookRequestTest, TimeOutsAndPortByKind) {
  using std::chrono::milliseconds;
  const std::pair<HookKind, std::chrono::nanoseconds> cases[] = {
      {HookKind::plain_event, milliseconds(300)},
      {HookKind::wait, std::chrono::seconds(86390)},
      {HookKind::wait_question, std::chrono::seconds(86390)},
      {HookKind::waiter, std::chrono::seconds(86390)},
      {HookKind::handover, std::chrono::seconds(10)},
      {HookKind::step, std::chrono::seconds(3)},
  };
  for (auto [kind, timeout] : cases) {
    HookArgs args = plain();
    args.kind = kind;
    auto r = build(args);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->timeout, timeout);
    EXPECT_EQ(r->port, 4999);
  }
}

TEST_F(HookRequestTest, HeadersInOrder) {
  env_ = {{"CLAUDE_CODE_ENTRYPOINT", "cli"}, {"COPILOT_ALLOW_ALL", "true"}, {"COPILOT_HOME", "/c"}};
  HookArgs args = plain("copilot");
  args.run_id = "run-1";
  auto r = build(args);
  ASSERT_TRUE(r);
  HttpHeaders expected = {
      {"content-type", "application/json"}, {"x-mossbank-token", "hhhhhhhhhhhhhhhh0"},
      {"x-mossbank-run", "run-1"},          {"x-mossbank-pid", "4242"},
      {"x-mossbank-entrypoint", "cli"},     {"x-mossbank-copilot-allow-all", "true"},
      {"x-mossbank-copilot-home", "/c"}};
  EXPECT_EQ(r->headers, expected);
}

TEST_F(HookRequestTest, TokenFallsBackAndEmptyValuesAreLeftOut) {
  write_config(R"({"port": 4999, "token": "tttttttttttttttt0"})");
  env_ = {{"CLAUDE_CODE_ENTRYPOINT", ""}, {"COPILOT_HOME", "/c"}};
  HookArgs args = plain("gemini");
  args.run_id = "";
  args.pid = 0;
  auto r = build(args);
  ASSERT_TRUE(r);
  HttpHeaders expected = {{"content-type", "application/json"},
                          {"x-mossbank-token", "tttttttttttttttt0"}};
  EXPECT_EQ(r->headers, expected);  // copilot headers only for copilot
}

TEST_F(HookRequestTest, UnsendableHeaderValueLeavesOnlyThatHeaderOut) {
  env_ = {{"COPILOT_HOME", "/Users/\xEA\xB9\x80/.copilot"}, {"COPILOT_ALLOW_ALL", "1"}};
  HookArgs args = plain("copilot");
  args.run_id = "bad\nrun";
  auto r = build(args);
  ASSERT_TRUE(r);
  auto h = header_map(*r);
  EXPECT_FALSE(h.count("x-mossbank-copilot-home"));
  EXPECT_FALSE(h.count("x-mossbank-run"));
  EXPECT_EQ(h["x-mossbank-copilot-allow-all"], "1");
  EXPECT_EQ(h["x-mossbank-pid"], "4242");
}

TEST_F(HookRequestTest, NoRequestWithoutConfigOrPayload) {
  HookArgs blank = plain();
  blank.payload = " \n\t\n\xE2\x80\xA8";  // JavaScript white space only
  EXPECT_FALSE(build(blank));
  fs::remove(home_ + "/config.json");
  EXPECT_FALSE(build(plain()));
}

std::string sha256_prefix_hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr);
  return hex_lower(digest, 6);
}

TEST_F(HookRequestTest, SignInTagHashesTheRealPathAndTheKeyMark) {
  fs::create_directories(home_ + "/user/.claude");
  fs::create_directories(home_ + "/real/codex");
  fs::create_directory_symlink(home_ + "/real/codex", home_ + "/link");
  std::string real_home = fs::canonical(home_).string();

  struct Case {
    std::optional<std::string> agent;
    std::map<std::string, std::string> env;
    std::optional<std::string> expected;  // none: no sign-in header
  };
  const Case cases[] = {
      {std::nullopt, {}, sha256_prefix_hex(real_home + "/user/.claude") + ".s"},
      {"claude",
       {{"ANTHROPIC_API_KEY", "sk"}},
       sha256_prefix_hex(real_home + "/user/.claude") + ".k"},
      {"claude",
       {{"CLAUDE_CODE_USE_FOUNDRY", "1"}, {"ANTHROPIC_API_KEY", ""}},
       sha256_prefix_hex(real_home + "/user/.claude") + ".k"},
      {"claude",
       {{"ANTHROPIC_API_KEY", ""}},
       sha256_prefix_hex(real_home + "/user/.claude") + ".s"},
      {"codex",
       {{"CODEX_HOME", home_ + "/link"}},
       sha256_prefix_hex(real_home + "/real/codex") + ".s"},
      {"codex",
       {{"CODEX_HOME", home_ + "/link"}, {"CODEX_API_KEY", "k"}},
       sha256_prefix_hex(real_home + "/real/codex") + ".k"},
      // A missing directory is made absolute lexically.
      {"codex",
       {{"CODEX_HOME", "/no/such/./dir/../codex/"}},
       sha256_prefix_hex("/no/such/codex") + ".s"},
      {"claude", {{"GROK_HOOK_EVENT", "a"}, {"GROK_SESSION_ID", "b"}}, std::nullopt},
      {"copilot", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    env_ = c.env;
    auto r = build(plain(c.agent));
    ASSERT_TRUE(r);
    auto h = header_map(*r);
    if (c.expected) {
      EXPECT_EQ(h["x-mossbank-sign-in"], *c.expected) << c.agent.value_or("<none>");
    } else {
      EXPECT_FALSE(h.count("x-mossbank-sign-in")) << c.agent.value_or("<none>");
    }
  }
}

TEST(HookArgs, ArgAfterTakesTheFirstMatchAndWhateverFollows) {
  std::vector<std::string> args = {"--wait", "--agent", "claude", "--agent", "x"};
  auto a = arg_after(args, "--agent");
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.value, "claude");
  auto w = arg_after(args, "--wait");
  EXPECT_EQ(w.value, "--agent");
  auto last = arg_after({"--agent"}, "--agent");
  EXPECT_TRUE(last.found);
  EXPECT_FALSE(last.value);
  EXPECT_FALSE(arg_after(args, "--event").found);
}

TEST(HookSpool, ForwardedHeadersAndTheLine) {
  EXPECT_TRUE(is_forwarded_header("x-mossbank-run"));
  EXPECT_TRUE(is_forwarded_header("x-mossbank-copilot-home"));
  EXPECT_FALSE(is_forwarded_header("x-mossbank-token"));
  EXPECT_FALSE(is_forwarded_header("x-mossbank-"));
  EXPECT_FALSE(is_forwarded_header("x-mossbank-Run"));
  EXPECT_FALSE(is_forwarded_header("x-mossbank-run2"));
  EXPECT_FALSE(is_forwarded_header("content-type"));

  HookRequest r;
  r.path = "/api/hook?agent=claude&event=Stop";
  r.headers = {{"content-type", "application/json"},
               {"x-mossbank-token", "secret"},
               {"x-mossbank-sign-in", "abc.s"},
               {"x-mossbank-pid", "12"},
               {"x-mossbank-entrypoint", "cli"}};
  EXPECT_EQ(spool_line(1700000000123, "{\"a\":\"\xE2\x80\xA8\"}\n", r),
            "{\"at\":1700000000123,\"body\":\"{\\\"a\\\":\\\"\xE2\x80\xA8\\\"}\\n\","
            "\"headers\":{\"x-mossbank-entrypoint\":\"cli\",\"x-mossbank-pid\":\"12\","
            "\"x-mossbank-sign-in\":\"abc.s\"},\"path\":\"/api/hook?agent=claude&event=Stop\"}");
}

}  // namespace
}  // namespace mossbank::cli

namespace mossbank::cli {
namespace {

class WaiterTest : public HookRequestTest {
 protected:
  HookDeps deps(std::function<HttpResponse(const HttpRequest&)> transport) {
    HookDeps d;
    d.parent_pid = 1;
    d.env = env();
    d.home = home_;
    d.user_home = home_;
    d.transport = std::move(transport);
    d.sleep = [this](std::chrono::nanoseconds n) {
      clock_ += n;
      if (on_sleep_) on_sleep_();
    };
    d.now = [this] { return std::chrono::steady_clock::time_point(clock_); };
    return d;
  }
  static HookArgs waiter() {
    HookArgs a;
    a.payload = "{}";
    a.kind = HookKind::waiter;
    return a;
  }
  std::chrono::nanoseconds clock_{std::chrono::hours(1)};
  std::function<void()> on_sleep_;
};

TEST_F(WaiterTest, RetriesEveryThreeSecondsForTwoMinutesIncluded) {
  std::vector<std::chrono::nanoseconds> attempts;
  auto d = deps([&](const HttpRequest&) -> HttpResponse {
    attempts.push_back(clock_);
    return HttpFailure{false, true};
  });
  EXPECT_EQ(run_waiter(d, waiter()), 0);
  // 0, 3, ..., 120 s: a failure at exactly 120 s still leads to one more
  // attempt, at 123 s, after which the window is over.
  ASSERT_EQ(attempts.size(), 42u);
  EXPECT_EQ(attempts[40] - attempts.front(), std::chrono::seconds(120));
  EXPECT_EQ(attempts.back() - attempts.front(), std::chrono::seconds(123));
}

TEST_F(WaiterTest, StopsOnTimeOutOnVillageOffAndOnAnAnswer) {
  int sends = 0;
  auto timed_out = deps([&](const HttpRequest&) -> HttpResponse {
    ++sends;
    return HttpFailure{true, false};
  });
  EXPECT_EQ(run_waiter(timed_out, waiter()), 0);
  EXPECT_EQ(sends, 1);

  sends = 0;
  on_sleep_ = [&] {
    if (sends == 3) std::ofstream(home_ + "/village-off") << "";
  };
  auto refused = deps([&](const HttpRequest&) -> HttpResponse {
    ++sends;
    return HttpFailure{false, false};
  });
  EXPECT_EQ(run_waiter(refused, waiter()), 0);
  EXPECT_EQ(sends, 4);  // the marker is seen after the send that follows its creation
  fs::remove(home_ + "/village-off");
  on_sleep_ = nullptr;

  sends = 0;
  auto then_answers = deps([&](const HttpRequest&) -> HttpResponse {
    if (++sends < 3) return HttpFailure{false, true};
    return HttpReply{"", 503, {}};
  });
  EXPECT_EQ(run_waiter(then_answers, waiter()), 0);  // a non-2xx answer ends it at once
  EXPECT_EQ(sends, 3);
}

}  // namespace
}  // namespace mossbank::cli
