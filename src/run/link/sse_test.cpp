#include "run/link/sse.h"

#include "daemon/chunked.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank::run {
namespace {

using Events = std::vector<std::pair<std::string, std::string>>;

Events parse_pieces(const std::vector<std::string>& pieces) {
  SseParser parser;
  std::vector<SseEvent> out;
  for (const std::string& piece : pieces) parser.feed(piece, out);
  Events events;
  for (SseEvent& e : out) events.emplace_back(e.name, e.data);
  return events;
}

TEST(SseParser, Events) {
  struct Case {
    const char* what;
    std::string stream;
    Events want;
  };
  const std::vector<Case> cases = {
      {"named event",
       "event: command\ndata: {\"type\":\"stop\"}\n\n",
       {{"command", "{\"type\":\"stop\"}"}}},
      {"no name is message", "data: x\n\n", {{"message", "x"}}},
      {"data lines joined",
       "event: command\ndata: {\"a\":\ndata: 1}\n\n",
       {{"command", "{\"a\":\n1}"}}},
      {"one leading space dropped",
       "data:x\n\ndata: x\n\ndata:  x\n\n",
       {{"message", "x"}, {"message", "x"}, {"message", " x"}}},
      {"name without data", "event: ready\n\n", {{"ready", ""}}},
      {"empty line with nothing pending", "\n\n\r\n", {}},
      {"comments and other fields ignored",
       ": keep-alive\n\nid: 7\nretry: 10\nevent: ready\nfoo: bar\ndata\n\n",
       {{"ready", ""}}},
      {"CR LF and many CRs", "event: ready\r\r\ndata: a\r\n\r\n", {{"ready", "a"}}},
      {"later name replaces", "event: a\nevent:\t b\ndata: 1\n\n", {{"b", "1"}}},
      {"name without space", "event:ready\n\n", {{"ready", ""}}},
      {"empty data line counts", "data:\n\n", {{"message", ""}}},
      {"bad UTF-8 replaced", "data: \xff!\n\n", {{"message", "\xEF\xBF\xBD!"}}},
      {"incomplete event waits", "event: ready\ndata: 1\n", {}},
      {"names and data cleared after each",
       "event: a\ndata: 1\n\ndata: 2\n\n",
       {{"a", "1"}, {"message", "2"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_pieces({c.stream}), c.want) << c.what;
    // Every split into two reads gives the same events.
    for (size_t cut = 0; cut <= c.stream.size(); ++cut)
      EXPECT_EQ(parse_pieces({c.stream.substr(0, cut), c.stream.substr(cut)}), c.want)
          << c.what << " cut at " << cut;
    // One byte per read too.
    std::vector<std::string> bytes;
    for (char ch : c.stream) bytes.emplace_back(1, ch);
    EXPECT_EQ(parse_pieces(bytes), c.want) << c.what << " byte by byte";
  }
}

TEST(SseParser, BoundsALineAndAnEventsData) {
  const std::string big(kMaxEventBytes - 6, 'x');  // "data: " + big: one line at the bound
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    bool fed;
    size_t events;
  };
  const std::vector<Case> cases = {
      {"a line at the bound", {"data: " + big + "\n\n"}, true, 1},
      {"a line one byte past it", {"data: " + big + "x\n\n"}, false, 0},
      {"a line past it with no newline, in reads", {"data: " + big, "xy"}, false, 0},
      {"data lines that join past it",
       {"data: " + std::string(kMaxEventBytes / 2, 'a') + "\n",
        "data: " + std::string(kMaxEventBytes / 2, 'b') + "\n\n"},
       false,
       0},
      {"an event before the bad one still comes",
       {"event: ready\n\ndata: " + big + "xx"},
       false,
       1},
  };
  for (const Case& c : cases) {
    SseParser parser;
    std::vector<SseEvent> out;
    bool fed = true;
    for (const std::string& piece : c.pieces) fed = parser.feed(piece, out) && fed;
    EXPECT_EQ(fed, c.fed) << c.what;
    EXPECT_EQ(out.size(), c.events) << c.what;
    if (!c.fed) {
      // Failed for good: nothing more comes out.
      EXPECT_FALSE(parser.feed("event: ready\n\n", out)) << c.what;
      EXPECT_EQ(out.size(), c.events) << c.what;
    }
  }
}

TEST(SseParser, EventSplitAcrossChunks) {
  // A command event cut into three chunks, with a comment before it.
  const std::string wire =
      "c\r\n: keepalive\n\r\n"
      "8;x=1\r\nevent: c\r\n"
      "16\r\nommand\ndata: {\"a\":1}\n\n\r\n";
  ChunkedDecoder body(ChunkedRules::stream(0x100000));
  SseParser parser;
  std::vector<SseEvent> events;
  for (char ch : wire) {
    std::string data;
    body.feed(std::string_view(&ch, 1), data);
    parser.feed(data, events);
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "command");
  EXPECT_EQ(events[0].data, "{\"a\":1}");
}

}  // namespace
}  // namespace mossbank::run
