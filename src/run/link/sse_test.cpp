#include "run/link/sse.h"

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
      {"named event", "event: command\ndata: {\"type\":\"stop\"}\n\n",
       {{"command", "{\"type\":\"stop\"}"}}},
      {"no name is message", "data: x\n\n", {{"message", "x"}}},
      {"data lines joined", "event: command\ndata: {\"a\":\ndata: 1}\n\n", {{"command", "{\"a\":\n1}"}}},
      {"one leading space dropped", "data:x\n\ndata: x\n\ndata:  x\n\n",
       {{"message", "x"}, {"message", "x"}, {"message", " x"}}},
      {"name without data", "event: ready\n\n", {{"ready", ""}}},
      {"empty line with nothing pending", "\n\n\r\n", {}},
      {"comments and other fields ignored",
       ": keep-alive\n\nid: 7\nretry: 10\nevent: ready\nfoo: bar\ndata\n\n", {{"ready", ""}}},
      {"CR LF and many CRs", "event: ready\r\r\ndata: a\r\n\r\n", {{"ready", "a"}}},
      {"later name replaces", "event: a\nevent:\t b\ndata: 1\n\n", {{"b", "1"}}},
      {"name without space", "event:ready\n\n", {{"ready", ""}}},
      {"empty data line counts", "data:\n\n", {{"message", ""}}},
      {"bad UTF-8 replaced", "data: \xff!\n\n", {{"message", "\xEF\xBF\xBD!"}}},
      {"incomplete event waits", "event: ready\ndata: 1\n", {}},
      {"names and data cleared after each", "event: a\ndata: 1\n\ndata: 2\n\n",
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

TEST(ChunkSize, Lines) {
  struct Case {
    std::string line;
    uint64_t want;
  };
  const std::vector<Case> cases = {
      {"1a", 26},          {"1a;name=value", 26}, {"1A\r", 26},       {"  1a  ", 26},
      {"+10", 16},         {"0", 0},              {"zz", 0},          {"", 0},
      {"+", 0},            {"-1", 0},             {"1a ;ext", 0},     {"0x10", 0},
      {"100000", 0x100000}, {"100001", 0x100001}, {"ffffffffffffffff", UINT64_MAX},
      {"1ffffffffffffffff", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(chunk_size_of(c.line), c.want) << c.line;
}

struct Decoded {
  std::vector<std::string> chunks;
  ChunkedBody::Status status;
};

Decoded decode(const std::vector<std::string>& pieces) {
  ChunkedBody body;
  Decoded out{{}, ChunkedBody::Status::more};
  for (const std::string& piece : pieces) out.status = body.feed(piece, out.chunks);
  return out;
}

TEST(ChunkedBody, Bodies) {
  using S = ChunkedBody::Status;
  struct Case {
    const char* what;
    std::string wire;
    std::vector<std::string> chunks;
    S status;
  };
  const std::string big(0x100000, 'x');
  const std::vector<Case> cases = {
      {"two chunks and the end", "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", {"abc", "de"}, S::ended},
      {"extension", "1a;foo=bar\r\nabcdefghijklmnopqrstuvwxyz\r\n", {"abcdefghijklmnopqrstuvwxyz"}, S::more},
      {"not hexadecimal ends like 0", "3\r\nabc\r\nxyz\r\n4\r\nnext\r\n", {"abc"}, S::ended},
      {"bytes after the end ignored", "0\r\n\r\n3\r\nabc\r\n", {}, S::ended},
      {"the two closing bytes are skipped whatever they are", "2\r\nab!!1\r\nc\r\n", {"ab", "c"}, S::more},
      {"LF alone ends a size line", "2\nab\r\n", {"ab"}, S::more},
      {"largest chunk", "100000\r\n" + big + "\r\n", {big}, S::more},
      {"oversize fails", "100001\r\n", {}, S::failed},
      {"oversize after a good chunk", "1\r\na\r\n200000\r\n", {"a"}, S::failed},
      {"size line too long fails", std::string(kMaxChunkLine + 1, '0'), {}, S::failed},
      {"incomplete chunk held", "5\r\nabc", {}, S::more},
  };
  for (const Case& c : cases) {
    Decoded whole = decode({c.wire});
    EXPECT_EQ(whole.chunks, c.chunks) << c.what;
    EXPECT_EQ(whole.status, c.status) << c.what;
    if (c.wire.size() > 4096) continue;
    for (size_t cut = 0; cut <= c.wire.size(); ++cut) {
      Decoded split = decode({c.wire.substr(0, cut), c.wire.substr(cut)});
      EXPECT_EQ(split.chunks, c.chunks) << c.what << " cut at " << cut;
      EXPECT_EQ(split.status, c.status) << c.what << " cut at " << cut;
    }
  }
}

TEST(ChunkedBody, EventSplitAcrossChunks) {
  // A command event cut into three chunks, with a comment before it.
  const std::string wire =
      "c\r\n: keepalive\n\r\n"
      "8;x=1\r\nevent: c\r\n"
      "16\r\nommand\ndata: {\"a\":1}\n\n\r\n";
  ChunkedBody body;
  SseParser parser;
  std::vector<SseEvent> events;
  for (char ch : wire) {
    std::vector<std::string> chunks;
    body.feed(std::string_view(&ch, 1), chunks);
    for (const std::string& chunk : chunks) parser.feed(chunk, events);
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "command");
  EXPECT_EQ(events[0].data, "{\"a\":1}");
}

}  // namespace
}  // namespace mossbank::run
