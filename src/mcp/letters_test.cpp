#include "mcp/letters.h"

#include <gtest/gtest.h>

#include <thread>

#include "mcp/mcp.h"
#include "mcp/test_daemon.h"

namespace mossbank::mcp {
namespace {

using testing::answer;
using testing::FakeDaemon;
using testing::json;

TEST(TalkToolRequest, CallIdentity) {
  struct Case {
    CallIdentity identity;
    const char* call;
  } cases[] = {
      {{"r1", 4242, UiLanguage::English}, R"({"pid":4242,"run":"r1","language":"en"})"},
      {{std::nullopt, 4242, UiLanguage::Korean}, R"({"pid":4242,"language":"ko"})"},
      {{"r1", std::nullopt, UiLanguage::English}, R"({"run":"r1","language":"en"})"},
      {{std::nullopt, std::nullopt, UiLanguage::English}, R"({"language":"en"})"},
  };
  for (const Case& c : cases) {
    JsonValue body = talk_tool_request(
        "mossbank_send", json(R"({"to":"Hazel","text":"Can you review PR 12?"})"), c.identity);
    EXPECT_EQ(
        to_js_json(body),
        std::string(
            R"({"tool":"mossbank_send","args":{"to":"Hazel","text":"Can you review PR 12?"},"call":)") +
            c.call + "}");
  }
  // Arguments go as they are, whatever they are.
  EXPECT_EQ(to_js_json(talk_tool_request("mossbank_mail", json("[1,\"x\"]"), {})),
            R"({"tool":"mossbank_mail","args":[1,"x"],"call":{"language":"en"}})");
}

TEST(TalkToolResult, RelaysWellFormedResults) {
  struct Case {
    const char* body;
    const char* result;
  } cases[] = {
      {R"({"result":{"content":[{"type":"text","text":"Sent."}],"isError":false}})",
       R"({"content":[{"type":"text","text":"Sent."}]})"},
      {R"({"result":{"content":[{"type":"text","text":"No such resident.","extra":1},{"text":"b","type":"text"}],
           "isError":true,"structuredContent":{"a":[1]},"other":2}})",
       R"({"content":[{"type":"text","text":"No such resident."},{"type":"text","text":"b"}],"structuredContent":{"a":[1]},"isError":true})"},
      {R"({"result":{"content":[{"type":"text","text":"x"}],"structuredContent":[1],"isError":"true"}})",
       R"({"content":[{"type":"text","text":"x"}]})"},
      {R"({"result":{"content":[{"type":"text","text":"x"}],"structuredContent":null,"isError":1}})",
       R"({"content":[{"type":"text","text":"x"}]})"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(to_js_json(talk_tool_result(DaemonReply{json(c.body), 200})), c.result) << c.body;
}

TEST(TalkToolResult, AnythingElseIsUnavailable) {
  const std::string unavailable =
      R"({"content":[{"type":"text","text":"This Mossbank can’t carry letters between residents yet: update Mossbank to the latest version."}],"isError":true})";
  struct Case {
    uint16_t status;
    const char* body;
  } cases[] = {
      {404, R"({"error":"not found"})"},
      {201, R"({"result":{"content":[{"type":"text","text":"x"}]}})"},
      {500, R"({"result":{"content":[{"type":"text","text":"x"}]}})"},
      {200, R"({"result":{"content":[]}})"},
      {200, R"({"result":{"content":[{"type":"image","data":"..."}]}})"},
      {200, R"({"result":{"content":[{"type":"text","text":"x"},{"type":"text","text":5}]}})"},
      {200, R"({"result":{"content":[{"type":"text"}]}})"},
      {200, R"({"result":{"content":["x"]}})"},
      {200, R"({"result":{"content":{"type":"text","text":"x"}}})"},
      {200, R"({"result":[]})"},
      {200, R"({})"},
      {200, R"("Sent.")"},
      {200, R"(null)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(to_js_json(talk_tool_result(DaemonReply{json(c.body), c.status})), unavailable)
        << c.body;
}

TEST(LettersTool, PostsTheCallAndRelaysTheAnswer) {
  auto daemon = std::make_shared<FakeDaemon>([](const testing::DaemonCall&) {
    return answer(
        200, json(R"({"result":{"content":[{"type":"text","text":"Sent."}],"isError":false}})"));
  });
  auto context = testing::context_with(daemon, {"r1", 4242, UiLanguage::English});
  ToolOutcome r = letters_tool(*context, "mossbank_send", json(R"({"to":"Hazel","text":"hi"})"));
  ASSERT_TRUE(r);
  EXPECT_EQ(to_js_json(*r), R"({"content":[{"type":"text","text":"Sent."}]})");
  auto calls = daemon->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "POST");
  EXPECT_EQ(calls[0].path, "/api/residents/talk-tool");
  EXPECT_FALSE(calls[0].within);  // the ordinary 10 s
  EXPECT_EQ(
      to_js_json(*calls[0].body),
      R"({"tool":"mossbank_send","args":{"to":"Hazel","text":"hi"},"call":{"pid":4242,"run":"r1","language":"en"}})");

  auto off = testing::context_with(std::make_shared<FakeDaemon>());
  EXPECT_FALSE(letters_tool(*off, "mossbank_mail", JsonValue::object()));
}

TEST(Introduction, FromWhoami) {
  struct Case {
    DaemonAnswer reply;
    std::optional<std::string> intro;
  } cases[] = {
      {answer(200, json(R"({"result":{"content":[{"type":"text","text":"You are Fern."}],
                             "structuredContent":{"introduction":"You are Fern, in mossbank."},"isError":true}})")),
       "You are Fern, in mossbank."},
      {answer(
           200,
           json(
               R"({"result":{"content":[{"type":"text","text":"x"}],"structuredContent":{"introduction":""}}})")),
       std::nullopt},
      {answer(
           200,
           json(
               R"({"result":{"content":[{"type":"text","text":"x"}],"structuredContent":{"introduction":5}}})")),
       std::nullopt},
      {answer(200, json(R"({"result":{"content":[],"structuredContent":{"introduction":"x"}}})")),
       std::nullopt},
      {answer(404, json(R"({"error":"not found"})")), std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    auto daemon =
        std::make_shared<FakeDaemon>([&c](const testing::DaemonCall&) { return c.reply; });
    auto context = testing::context_with(daemon, {std::nullopt, 77, UiLanguage::Korean});
    EXPECT_EQ(introduction(*context), c.intro);
    auto calls = daemon->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, "/api/residents/talk-tool");
    EXPECT_EQ(calls[0].within, std::chrono::nanoseconds(std::chrono::milliseconds(1500)));
    EXPECT_EQ(to_js_json(*calls[0].body),
              R"({"tool":"mossbank_whoami","args":{},"call":{"pid":77,"language":"ko"}})");
  }
}

// The client's own steps may outlast the budget (its proof alone may take
// 2 s); the introduction is given up on at the deadline all the same.
TEST(Introduction, AsksForItWithinTheBudget) {
  std::optional<std::chrono::nanoseconds> within;
  auto daemon = std::make_shared<FakeDaemon>([&](const testing::DaemonCall& call) {
    within = call.within;
    return answer(
        200,
        json(
            R"({"result":{"content":[{"type":"text","text":"x"}],"structuredContent":{"introduction":"hi"}}})"));
  });
  auto context = testing::context_with(daemon);
  EXPECT_EQ(introduction(*context), "hi");
  EXPECT_EQ(within, kIntroductionBudget);  // the daemon client holds the whole call to it
}

}  // namespace
}  // namespace mossbank::mcp
