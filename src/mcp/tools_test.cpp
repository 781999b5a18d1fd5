#include "mcp/tools.h"

#include <gtest/gtest.h>

#include "mcp/test_daemon.h"

namespace mossbank::mcp {
namespace {

using testing::answer;
using testing::FakeDaemon;
using testing::json;

// A server whose daemon answers every call with `reply`.
struct Server {
  explicit Server(DaemonAnswer reply)
      : daemon(std::make_shared<FakeDaemon>([reply](const testing::DaemonCall&) { return reply; })),
        context(testing::context_with(daemon)) {}
  std::shared_ptr<FakeDaemon> daemon;
  std::shared_ptr<const McpServerContext> context;
};

std::string first_text(const ToolResult& r) { return r["content"][0]["text"].get<std::string>(); }

TEST(Notify, BodyFromArguments) {
  struct Case {
    const char* args;
    const char* body;
  } cases[] = {
      {R"({"sender":"CI","text":"build red"})",
       R"({"source":"custom","sender":{"name":"CI"},"text":"build red"})"},
      {R"({"source":null,"sender":5,"text":"x"})",
       R"({"source":"custom","sender":{"name":""},"text":"x"})"},
      {R"({"url":null,"channel":"#dev","source":7,"text":"t","sender":"A"})",
       R"({"source":7,"sender":{"name":"A"},"text":"t","channel":"#dev","url":null})"},
      {R"([1,2])", R"({"source":"custom","sender":{"name":""}})"},
      {R"("text")", R"({"source":"custom","sender":{"name":""}})"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_js_json(notify_body(json(c.args))), c.body) << c.args;
}

TEST(Notify, PostsToTheInbox) {
  Server s(answer(200, json(R"({"ok":true,"message":{"id":"m7"}})")));
  ToolOutcome r = notify(*s.context, json(R"({"sender":"CI","text":"build red"})"));
  ASSERT_TRUE(r);
  EXPECT_EQ(
      to_js_json(*r),
      R"({"content":[{"type":"text","text":"Delivered to the village inbox; the postman is taking it to the chief."}],"structuredContent":{"id":"m7"}})");
  auto calls = s.daemon->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "POST");
  EXPECT_EQ(calls[0].path, "/api/inbox");
  EXPECT_FALSE(calls[0].within);
}

TEST(Notify, Answers) {
  struct Case {
    uint16_t status;
    const char* body;
    const char* text;
    bool is_error;
    const char* id;  // structured "id", for accepted messages
  } cases[] = {
      {200, R"({"ok":true})",
       "Delivered to the village inbox; the postman is taking it to the chief.", false, "null"},
      {200, R"({"message":{"id":null}})",
       "Delivered to the village inbox; the postman is taking it to the chief.", false, "null"},
      {200, R"({"message":{"id":12}})",
       "Delivered to the village inbox; the postman is taking it to the chief.", false, "12"},
      {200, R"("not json")",
       "Delivered to the village inbox; the postman is taking it to the chief.", false, "null"},
      {429, R"({"error":"slow down"})",
       "The village inbox is taking too many messages at once; try again in a second.", true,
       nullptr},
      {400, R"({"problems":["text is empty","url is not a link"]})",
       "The village refused the message: text is empty; url is not a link", true, nullptr},
      {400, R"({"problems":[null,1,[2,3]],"error":"x"})",
       "The village refused the message: ; 1; 2,3", true, nullptr},
      {400, R"({})", "The village refused the message: refused", true, nullptr},
      {500, R"({"error":null})", "The village refused the message: refused", true, nullptr},
      {400, R"({"error":{"a":1}})", "The village refused the message: [object Object]", true,
       nullptr},
      {401, R"({"error":"unauthorized"})", "The village refused the message: unauthorized", true,
       nullptr},
      {400, R"("bad")", "The village refused the message: refused", true, nullptr},
  };
  for (const Case& c : cases) {
    Server s(answer(c.status, json(c.body)));
    ToolOutcome r = notify(*s.context, json("{}"));
    ASSERT_TRUE(r) << c.body;
    EXPECT_EQ(first_text(*r), c.text) << c.body;
    EXPECT_EQ(r->contains("isError"), c.is_error) << c.body;
    if (c.id != nullptr)
      EXPECT_EQ(to_js_json((*r)["structuredContent"]["id"]), c.id) << c.body;
    else
      EXPECT_FALSE(r->contains("structuredContent")) << c.body;
  }
}

TEST(Tools, OffWhenTheDaemonCantBeReached) {
  Server s(std::nullopt);
  EXPECT_FALSE(notify(*s.context, json("{}")));
  EXPECT_FALSE(inbox_list(*s.context, json("{}")));
  EXPECT_FALSE(village_status(*s.context, json("{}")));
}

TEST(InboxList, PathAndEmptyTexts) {
  struct Case {
    const char* args;
    const char* path;
    const char* empty;
  } cases[] = {
      {R"({"unread":true})", "/api/inbox?unread=1", "No unread messages."},
      {R"({"unread":false})", "/api/inbox", "The inbox is empty."},
      {R"({"unread":"yes"})", "/api/inbox", "The inbox is empty."},
      {R"({"unread":1})", "/api/inbox", "The inbox is empty."},
      {R"({})", "/api/inbox", "The inbox is empty."},
      {R"([true])", "/api/inbox", "The inbox is empty."},
  };
  for (const Case& c : cases) {
    Server s(answer(200, json(R"({"messages":[]})")));
    ToolOutcome r = inbox_list(*s.context, json(c.args));
    ASSERT_TRUE(r);
    EXPECT_EQ(to_js_json(*r), std::string(R"({"content":[{"type":"text","text":")") + c.empty +
                                  R"("}],"structuredContent":{"messages":[]}})")
        << c.args;
    EXPECT_EQ(s.daemon->calls().at(0).method, "GET");
    EXPECT_EQ(s.daemon->calls().at(0).path, c.path) << c.args;
  }
}

TEST(InboxList, OneMessage) {
  Server s(answer(200, json(R"({"messages":[{"at":0,"sender":{"name":"Ana"},"source":"slack",
      "channel":"#dev","text":"hi","url":"PR 7"}]})")));
  ToolOutcome r = inbox_list(*s.context, json("{}"));
  ASSERT_TRUE(r);
  EXPECT_EQ(first_text(*r),
            "1 message (* = unread):\n* 1970-01-01 00:00 \u00b7 slack #dev \u00b7 Ana: hi (PR 7)");
  EXPECT_EQ((*r)["structuredContent"]["messages"].size(), 1u);
  EXPECT_FALSE(r->contains("isError"));
}

TEST(InboxList, ThirtyShownThenOlder) {
  for (size_t n : {30u, 31u, 45u}) {
    JsonValue messages = JsonValue::array();
    for (size_t i = 0; i < n; ++i)
      messages.push_back({{"at", 60000 * i},
                          {"read", i % 2 == 0},
                          {"sender", {{"name", "S"}}},
                          {"source", "custom"},
                          {"text", "m" + std::to_string(i)}});
    Server s(answer(200, {{"messages", messages}}));
    ToolOutcome r = inbox_list(*s.context, json("{}"));
    ASSERT_TRUE(r);
    std::string text = first_text(*r);
    std::string expected = std::to_string(n) + " messages (* = unread):";
    for (size_t i = 0; i < 30; ++i) {
      char minute[8];
      std::snprintf(minute, sizeof minute, "%02zu", i);
      expected += std::string("\n") + (i % 2 == 0 ? " " : "*") + " 1970-01-01 00:" + minute +
                  " \u00b7 custom \u00b7 S: m" + std::to_string(i);
    }
    if (n > 30) expected += "\n\u2026and " + std::to_string(n - 30) + " older.";
    EXPECT_EQ(text, expected);
    EXPECT_EQ((*r)["structuredContent"]["messages"].size(), 30u);
    EXPECT_EQ((*r)["structuredContent"]["messages"][29], messages[29]);
  }
}

TEST(InboxList, ABrokenMessageAmongTheShownTurnsTheToolOff) {
  JsonValue good = json(R"({"at":0,"sender":{"name":"A"}})");
  JsonValue messages = JsonValue::array();
  for (int i = 0; i < 30; ++i) messages.push_back(good);
  messages.push_back(json(R"({"at":"yesterday","sender":{}})"));  // the 31st is not shown
  EXPECT_TRUE(inbox_list(*Server(answer(200, {{"messages", messages}})).context, json("{}")));
  messages[3] = json(R"({"at":"yesterday","sender":{}})");
  EXPECT_FALSE(inbox_list(*Server(answer(200, {{"messages", messages}})).context, json("{}")));
}

TEST(InboxList, Unreadable) {
  struct Case {
    uint16_t status;
    const char* body;
    const char* text;
  } cases[] = {
      {500, R"({"error":"disk full"})", "Couldn't read the inbox: disk full"},
      {200, R"({"messages":{}})", "Couldn't read the inbox: refused"},
      {200, R"([])", "Couldn't read the inbox: refused"},
      {404, R"({"messages":[]})", "Couldn't read the inbox: refused"},
      {400, R"({"problems":["a","b"]})", "Couldn't read the inbox: a; b"},
  };
  for (const Case& c : cases) {
    ToolOutcome r = inbox_list(*Server(answer(c.status, json(c.body))).context, json("{}"));
    ASSERT_TRUE(r);
    EXPECT_EQ(to_js_json(*r), std::string(R"({"content":[{"type":"text","text":")") + c.text +
                                  R"("}],"isError":true})");
  }
}

TEST(InboxMessage, Lines) {
  struct Case {
    const char* message;
    const char* line;  // nullptr: can't be shown
  } cases[] = {
      {R"({"at":0,"read":true,"sender":{"name":"Ana"},"source":"slack","text":"hi"})",
       "  1970-01-01 00:00 \u00b7 slack \u00b7 Ana: hi"},
      {R"({"at":null,"sender":{}})",
       "* 1970-01-01 00:00 \u00b7 undefined \u00b7 undefined: undefined"},
      {R"({"at":true,"sender":"Bo","read":0,"channel":"","url":0,"text":5})",
       "* 1970-01-01 00:00 \u00b7 undefined \u00b7 undefined: 5"},
      {R"({"at":1700000000999.9,"sender":{"name":7},"read":"yes","source":null,"channel":12,"url":"u"})",
       "  2023-11-14 22:13 \u00b7 null 12 \u00b7 7: undefined (u)"},
      {R"({"at":-1,"sender":{"name":"N"}})",
       "* 1969-12-31 23:59 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":-0.9,"sender":{"name":"N"}})",
       "* 1970-01-01 00:00 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":253402300800000,"sender":{"name":"N"}})",
       "* +010000-01-01 00 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":-62198755200000,"sender":{"name":"N"}})",
       "* -000001-01-01 00 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":8.64e15,"sender":{"name":"N"}})",
       "* +275760-09-13 00 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":-8.64e15,"sender":{"name":"N"}})",
       "* -271821-04-20 00 \u00b7 undefined \u00b7 N: undefined"},
      {R"({"at":8640000000000001,"sender":{"name":"N"}})", nullptr},
      {R"({"at":"0","sender":{"name":"N"}})", nullptr},
      {R"({"at":[],"sender":{"name":"N"}})", nullptr},
      {R"({"sender":{"name":"N"}})", nullptr},
      {R"({"at":0})", nullptr},
      {R"({"at":0,"sender":null})", nullptr},
      {R"([0])", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<std::string> line = format_inbox_message(json(c.message));
    if (c.line == nullptr) {
      EXPECT_FALSE(line) << c.message;
    } else {
      ASSERT_TRUE(line) << c.message;
      EXPECT_EQ(*line, c.line) << c.message;
    }
  }
}

TEST(VillageStatus, Counting) {
  struct Case {
    const char* state;
    const char* text;  // nullptr: off
  } cases[] = {
      {R"({"residents":[{"dotState":"working"},{"dotState":"done","unseen":true},{"dotState":"done"},
          {"dotState":"waiting"}],"inbox":{"unread":2}})",
       "4 residents: 1 working, 1 asking for you, 0 blocked, 1 done, 1 resting. Inbox: 2 unread."},
      {R"({"residents":[{"dotState":"monitoring"},{"dotState":"idle"},{"dotState":"asleep"},5,"x",{}]})",
       "6 residents: 1 working, 0 asking for you, 0 blocked, 0 done, 1 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"done","unseen":true,"background":[{"kind":"monitor","what":"Live updates for PR 12"}]}]})",
       "1 resident: 0 working, 0 asking for you, 0 blocked, 1 done, 0 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"done","background":[{"kind":"monitor","what":"LIVE UPDATES FOR x"}]}]})",
       "1 resident: 0 working, 0 asking for you, 0 blocked, 0 done, 1 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"done","background":[{"kind":"shell","what":"npm test"}]}]})",
       "1 resident: 1 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"done","background":[{"kind":"monitor"}]},
          {"dotState":"done","background":[{"kind":"monitor","what":"Live updates"}]},
          {"dotState":"done","background":[5]},
          {"dotState":"done","background":[{"kind":"monitor","what":"live updates for a"},{"kind":"x"}]}]})",
       "4 residents: 4 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"done","unseen":true,"exited":true,"background":[{"kind":"shell"}]},
          {"dotState":"done","ended":1,"background":7},{"dotState":"done","background":null},
          {"dotState":"done","background":[]}]})",
       "4 residents: 0 working, 0 asking for you, 0 blocked, 1 done, 3 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"blocked","unseen":true},{"dotState":"blocked"},
          {"dotState":"blocked","unseen":true,"finishedAt":1700000000000,"attentionSeen":"error:1700000000000"}]})",
       "3 residents: 0 working, 0 asking for you, 1 blocked, 0 done, 2 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"waiting","ask":{"id":"q1"},"attentionSeen":"ask:q1\nwhatever"},
          {"dotState":"waiting","ask":{"id":"q1"},"attentionSeen":"ask:q2"}]})",
       "2 residents: 0 working, 1 asking for you, 0 blocked, 0 done, 1 resting. Inbox: 0 unread."},
      {R"({"residents":[{"dotState":"working","workingMode":"monitoring","background":7}],"inbox":{"total":3}})",
       "1 resident: 1 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: undefined "
       "unread."},
      {R"({"residents":[],"inbox":{"unread":null}})",
       "0 residents: 0 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: null "
       "unread."},
      {R"({"residents":[],"inbox":null})",
       "0 residents: 0 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: 0 unread."},
      {R"({"residents":[],"inbox":[1]})",
       "0 residents: 0 working, 0 asking for you, 0 blocked, 0 done, 0 resting. Inbox: undefined "
       "unread."},
      {R"({"residents":[{"dotState":"working"},null]})", nullptr},
      {R"({"residents":[{"dotState":"done","background":{}}]})", nullptr},
      {R"({"residents":[{"dotState":"done","background":[null]}]})", nullptr},
      {R"({"residents":[{"dotState":"done","background":[{"kind":"monitor","what":5}]}]})",
       nullptr},
  };
  for (const Case& c : cases) {
    ToolOutcome r = village_status(*Server(answer(200, json(c.state))).context, json("{}"));
    if (c.text == nullptr) {
      EXPECT_FALSE(r) << c.state;
      continue;
    }
    ASSERT_TRUE(r) << c.state;
    EXPECT_EQ(first_text(*r), c.text) << c.state;
  }
}

TEST(VillageStatus, StructuredValue) {
  ToolOutcome r = village_status(
      *Server(answer(200, json(R"({"residents":[{"dotState":"working"},{"dotState":"idle"}],
                                   "inbox":{"unread":2,"total":9}})")))
           .context,
      json("{}"));
  ASSERT_TRUE(r);
  EXPECT_EQ(
      to_js_json((*r)["structuredContent"]),
      R"({"residents":2,"working":1,"asking":0,"blocked":0,"done":0,"resting":1,"unread":2})");
  r = village_status(*Server(answer(200, json(R"({"residents":[],"inbox":{}})"))).context,
                     json("{}"));
  EXPECT_EQ(to_js_json((*r)["structuredContent"]),
            R"({"residents":0,"working":0,"asking":0,"blocked":0,"done":0,"resting":0})");
  r = village_status(
      *Server(answer(200, json(R"({"residents":[],"inbox":{"unread":null}})"))).context,
      json("{}"));
  EXPECT_EQ(to_js_json((*r)["structuredContent"]["unread"]), "null");
}

TEST(VillageStatus, Unreadable) {
  for (auto [status, body] :
       {std::pair{500, R"({"residents":[]})"}, std::pair{200, R"({"residents":{}})"},
        std::pair{200, R"({})"}, std::pair{200, R"("x")"}}) {
    ToolOutcome r =
        village_status(*Server(answer(uint16_t(status), json(body))).context, json("{}"));
    ASSERT_TRUE(r);
    EXPECT_EQ(
        to_js_json(*r),
        R"({"content":[{"type":"text","text":"Couldn't read the village."}],"isError":true})");
  }
}

TEST(AttentionSeen, Cases) {
  struct Case {
    const char* resident;
    bool seen;
  } cases[] = {
      {R"({"dotState":"blocked","finishedAt":17,"attentionSeen":"error:17"})", true},
      {R"({"dotState":"blocked","finishedAt":17,"attentionSeen":"error:17","exited":true})", false},
      {R"({"dotState":"blocked","finishedAt":null,"stateChangedAt":"s","attentionSeen":"error:s"})",
       true},
      {R"({"dotState":"blocked","stateChangedAt":null,"attentionSeen":"error:null"})", true},
      {R"({"dotState":"blocked","attentionSeen":"error:undefined"})", false},
      {R"({"dotState":"blocked","finishedAt":1.5,"attentionSeen":"error:1.5"})", true},
      {R"({"dotState":"blocked","finishedAt":17,"attentionSeen":""})", false},
      {R"({"dotState":"blocked","finishedAt":17,"attentionSeen":17})", false},
      {R"({"dotState":"waiting","ask":{"id":"q1"},"attentionSeen":"ask:q1"})", true},
      {R"({"dotState":"waiting","ask":{"id":"q1"},"attentionSeen":"ask:q1\nx"})", true},
      {R"({"dotState":"waiting","ask":{"id":"q1"},"attentionSeen":"ask:q10"})", false},
      {R"({"dotState":"waiting","ask":{"id":"q1","summary":"s"},"attentionSeen":"wait:s"})", false},
      {R"({"dotState":"waiting","ask":{"id":"","summary":"s"},"attentionSeen":"wait:s"})", true},
      {R"({"dotState":"waiting","askSummary":"  Run tests?\u0085","attentionSeen":"wait:Run tests?"})",
       true},
      {R"({"dotState":"waiting","askSummary":"Run tests?\ufeff","attentionSeen":"wait:Run tests?"})",
       false},
      {R"({"dotState":"waiting","askSummary":5,"ask":{"summary":"from ask"},"attentionSeen":"wait:from ask"})",
       true},
      {R"({"dotState":"waiting","ask":{"summary":5},"attentionSeen":"wait:"})", true},
      {R"({"dotState":"waiting","attentionSeen":"ask:q9\nRun tests?","askSummary":"Run tests?"})",
       true},
      {R"({"dotState":"waiting","attentionSeen":"ask:q9\nOther","askSummary":"Run tests?"})",
       false},
      {R"({"dotState":"waiting","attentionSeen":"ask:q9"})", true},
      {R"({"dotState":"waiting","attentionSeen":"ask:q9","askSummary":"x"})", false},
      {R"({"dotState":"waiting","attentionSeen":"other"})", false},
      {R"({"dotState":"done","attentionSeen":"wait:"})", false},
      {R"(["blocked"])", false},
  };
  for (const Case& c : cases) EXPECT_EQ(attention_seen(json(c.resident)), c.seen) << c.resident;
}

TEST(AttentionSeen, SummaryKeepsItsFirst300Characters) {
  std::string summary;
  for (int i = 0; i < 310; ++i) summary += "\u00e9";  // 2 bytes, 1 character
  JsonValue r = {{"dotState", "waiting"}, {"askSummary", summary}};
  std::string first;
  for (int i = 0; i < 300; ++i) first += "\u00e9";
  r["attentionSeen"] = "wait:" + first;
  EXPECT_TRUE(attention_seen(r));
  r["attentionSeen"] = "wait:" + summary;
  EXPECT_FALSE(attention_seen(r));
}

TEST(Todo, Off) {
  EXPECT_EQ(
      to_js_json(todo_off()),
      R"({"content":[{"type":"text","text":"The to-dos are hidden in this version of Mossbank, so this tool is off."}],"isError":true})");
}

}  // namespace
}  // namespace mossbank::mcp
