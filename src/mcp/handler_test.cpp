#include "mcp/handler.h"

#include <gtest/gtest.h>

#include "mcp/mcp.h"
#include "mcp/test_daemon.h"
#include "mcp/texts.h"

namespace mossbank::mcp {
namespace {

using testing::answer;
using testing::FakeDaemon;
using testing::json;

// The answer's bytes, or "-" for no answer.
std::string answer_to(const McpServerContext& context, std::string_view message) {
  std::optional<JsonValue> a = handle_request(context, json(message));
  return a ? to_js_json(*a) : "-";
}

TEST(HandleRequest, Envelope) {
  auto context = testing::context_with(std::make_shared<FakeDaemon>());
  const std::string invalid =
      R"({"jsonrpc":"2.0","id":null,"error":{"code":-32600,"message":"Invalid request"}})";
  struct Case {
    const char* message;
    std::string answer;
  } cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"jsonrpc":"2.0","id":1,"result":{}})"},
      {R"({"method":"ping","id":"a b","jsonrpc":"2.0","params":7})",
       R"({"jsonrpc":"2.0","id":"a b","result":{}})"},
      {R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":1.5,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":-0,"method":"ping"})", R"({"jsonrpc":"2.0","id":0,"result":{}})"},
      {R"({"jsonrpc":"2.0","method":"ping"})", "-"},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":null,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":{"a":1},"method":"ping"})",
       R"({"jsonrpc":"2.0","id":null,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":[1],"method":"ping"})",
       R"({"jsonrpc":"2.0","id":null,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":true,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":null,"result":{}})"},
      {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", invalid},
      {R"({"jsonrpc":2.0,"id":1,"method":"ping"})", invalid},
      {R"({"id":1,"method":"ping"})", invalid},
      {R"({"jsonrpc":"2.0","id":1,"method":5})", invalid},
      {R"({"jsonrpc":"2.0","id":1})", invalid},
      {R"({"jsonrpc":"2.0"})", invalid},
      {"5", invalid},
      {R"("x")", invalid},
      {"null", invalid},
      {"[]", invalid},
      {R"({"jsonrpc":"2.0","method":"nope"})", "-"},
      {R"({"jsonrpc":"2.0","id":3,"method":"nope"})",
       R"({"jsonrpc":"2.0","id":3,"error":{"code":-32601,"message":"Method not found: nope"}})"},
      {R"({"jsonrpc":"2.0","id":3,"method":"Ping"})",
       R"({"jsonrpc":"2.0","id":3,"error":{"code":-32601,"message":"Method not found: Ping"}})"},
      {R"({"jsonrpc":"2.0","id":4,"method":"notifications/initialized"})", "-"},
      {R"({"jsonrpc":"2.0","id":4,"method":"notifications/cancelled","params":{"requestId":1}})",
       "-"},
      {R"({"jsonrpc":"2.0","id":4,"method":"notifications/"})", "-"},
      {R"({"jsonrpc":"2.0","id":4,"method":"notifications"})",
       R"({"jsonrpc":"2.0","id":4,"error":{"code":-32601,"message":"Method not found: notifications"}})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":[]})",
       R"({"jsonrpc":"2.0","id":5,"error":{"code":-32602,"message":"tools/call needs a tool name"}})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call"})",
       R"({"jsonrpc":"2.0","id":5,"error":{"code":-32602,"message":"tools/call needs a tool name"}})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":7}})",
       R"({"jsonrpc":"2.0","id":5,"error":{"code":-32602,"message":"tools/call needs a tool name"}})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"x"}})",
       R"({"jsonrpc":"2.0","id":5,"error":{"code":-32602,"message":"Unknown tool: x"}})"},
      {R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"x"}})", "-"},
      {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"mossbank_todo_add","arguments":{"text":"t"}}})",
       R"({"jsonrpc":"2.0","id":6,"result":{"content":[{"type":"text","text":"The to-dos are hidden in this version of Mossbank, so this tool is off."}],"isError":true}})"},
      {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"mossbank_todo_list"}})",
       R"({"jsonrpc":"2.0","id":6,"result":{"content":[{"type":"text","text":"The to-dos are hidden in this version of Mossbank, so this tool is off."}],"isError":true}})"},
      {R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"mossbank_village_status"}})",
       R"({"jsonrpc":"2.0","id":7,"result":{"content":[{"type":"text","text":"Mossbank is off — open the app."}],"isError":true}})"},
  };
  for (const Case& c : cases) EXPECT_EQ(answer_to(*context, c.message), c.answer) << c.message;
}

TEST(HandleRequest, VillageOffFollowsTheLanguage) {
  auto context = testing::context_with(std::make_shared<FakeDaemon>(),
                                       {std::nullopt, std::nullopt, UiLanguage::Korean});
  for (const char* tool :
       {"mossbank_notify", "mossbank_inbox_list", "mossbank_village_status", "mossbank_whoami",
        "mossbank_residents", "mossbank_send", "mossbank_mail", "mossbank_reply"}) {
    EXPECT_EQ(
        answer_to(
            *context,
            std::string(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":")") +
                tool + R"("}})"),
        R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"type":"text","text":"Mossbank가 꺼져 있어요 — 앱을 열어 주세요."}],"isError":true}})")
        << tool;
  }
}

TEST(HandleRequest, ToolArguments) {
  auto daemon = std::make_shared<FakeDaemon>();
  auto context = testing::context_with(daemon);
  for (const char* params :
       {R"({"name":"mossbank_mail"})", R"({"name":"mossbank_mail","arguments":null})",
        R"({"name":"mossbank_mail","arguments":{"unread":true}})",
        R"({"name":"mossbank_mail","arguments":"x"})"})
    answer_to(*context, std::string(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":)") +
                            params + "}");
  auto calls = daemon->calls();
  ASSERT_EQ(calls.size(), 4u);
  const char* args[] = {"{}", "{}", R"({"unread":true})", R"("x")"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(to_js_json((*calls[i].body)["args"]), args[i]);
}

std::string initialize_answer(const char* version_text, const std::string& instructions) {
  return std::string(R"({"jsonrpc":"2.0","id":0,"result":{"protocolVersion":")") + version_text +
         R"(","capabilities":{"tools":{"listChanged":false}},"serverInfo":{"name":"mossbank","title":"Mossbank","version":")" +
         std::string(kVersion) + R"("},"instructions":)" + write_json_string(instructions) + "}}";
}

TEST(Initialize, ProtocolVersions) {
  auto context = testing::context_with(std::make_shared<FakeDaemon>());
  std::string fixed(kInstructions);
  struct Case {
    const char* params;
    const char* version;
  } cases[] = {
      {R"(,"params":{"protocolVersion":"2025-06-18"})", "2025-06-18"},
      {R"(,"params":{"protocolVersion":"2025-03-26"})", "2025-03-26"},
      {R"(,"params":{"protocolVersion":"2024-11-05"})", "2024-11-05"},
      {R"(,"params":{"protocolVersion":"2025-11-25"})", "2025-06-18"},
      {R"(,"params":{"protocolVersion":"1999-01-01"})", "2025-06-18"},
      {R"(,"params":{"protocolVersion":20250326})", "2025-06-18"},
      {R"(,"params":["2025-03-26"])", "2025-06-18"},
      {"", "2025-06-18"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(answer_to(*context, std::string(R"({"jsonrpc":"2.0","id":0,"method":"initialize")") +
                                      c.params + "}"),
              initialize_answer(c.version, fixed))
        << c.params;
  }
}

TEST(Initialize, Introduction) {
  auto daemon = std::make_shared<FakeDaemon>([](const testing::DaemonCall&) {
    return answer(200, json(R"({"result":{"content":[{"type":"text","text":"Fern"}],
                                 "structuredContent":{"introduction":"You are Fern (claude) in mossbank."}}})"));
  });
  auto context = testing::context_with(daemon);
  EXPECT_EQ(
      answer_to(
          *context,
          R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})"),
      initialize_answer("2024-11-05",
                        std::string(kInstructions) + " You are Fern (claude) in mossbank."));
}

}  // namespace
}  // namespace mossbank::mcp
