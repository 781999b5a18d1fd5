#include "daemon/chunked.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mossbank {
namespace {

TEST(ChunkSize, Lines) {
  struct Case {
    std::string line;
    uint64_t lenient;
    std::optional<uint64_t> strict;
  };
  const std::vector<Case> cases = {
      {"1a", 26, 26},
      {"1a;name=value", 26, 26},
      {"1A\r", 26, 26},
      {"  1a  ", 26, 26},
      {"+10", 16, 16},
      {"0", 0, 0},
      {"zz", 0, std::nullopt},
      {"", 0, std::nullopt},
      {"+", 0, std::nullopt},
      {"-1", 0, std::nullopt},
      {"1a ;ext", 0, 26},  // the stream trims before the cut, the answer after it
      {"0x10", 0, std::nullopt},
      {"100000", 0x100000, 0x100000},
      {"ffffffffffffffff", UINT64_MAX, UINT64_MAX},
      {"+ffffffffffffffff", UINT64_MAX, UINT64_MAX},
      {"0ffffffffffffffff", UINT64_MAX, std::nullopt},  // 17 digits
      {"1ffffffffffffffff", 0, std::nullopt},
      {"\xff", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lenient_chunk_size(c.line), c.lenient) << c.line;
    EXPECT_EQ(strict_chunk_size(c.line), c.strict) << c.line;
  }
}

struct Decoded {
  std::string data;
  ChunkedDecoder::Status status;
  size_t used = 0;
};

Decoded decode(ChunkedRules rules, const std::vector<std::string>& pieces) {
  ChunkedDecoder body(rules);
  Decoded out{{}, ChunkedDecoder::Status::more};
  for (const std::string& piece : pieces) {
    size_t used = 0;
    out.status = body.feed(piece, out.data, &used);
    out.used += used;
  }
  return out;
}

TEST(ChunkedDecoder, Bodies) {
  using S = ChunkedDecoder::Status;
  const ChunkedRules stream = ChunkedRules::stream(0x100000);
  const ChunkedRules answer = ChunkedRules::answer(0x100000);
  struct Case {
    const char* what;
    ChunkedRules rules;
    std::string wire;
    std::string data;
    S status;
    size_t used;  // bytes taken (all the wire when npos)
  };
  constexpr size_t all = std::string::npos;
  const std::string big(0x100000, 'x');
  const std::vector<Case> cases = {
      {"two chunks and the end", stream, "3\r\nabc\r\n2\r\nde\r\n0\r\n", "abcde", S::ended, all},
      {"extension", stream, "1a;foo=bar\r\nabcdefghijklmnopqrstuvwxyz\r\n",
       "abcdefghijklmnopqrstuvwxyz", S::more, all},
      {"not hexadecimal ends like 0", stream, "3\r\nabc\r\nxyz\r\n4\r\nnext\r\n", "abc", S::ended,
       13},
      {"bytes after the end are left", stream, "0\r\n\r\n3\r\nabc\r\n", "", S::ended, 3},
      {"the two closing bytes are skipped whatever they are", stream, "2\r\nab!!1\r\nc\r\n", "abc",
       S::more, all},
      {"LF alone ends a size line", stream, "2\nab\r\n", "ab", S::more, all},
      {"largest chunk", stream, "100000\r\n" + big + "\r\n", big, S::more, all},
      {"oversize fails", stream, "100001\r\n", "", S::failed, all},
      {"oversize after a good chunk", stream, "1\r\na\r\n200000\r\n", "a", S::failed, all},
      {"size line too long fails", stream, std::string(kMaxChunkLine + 1, '0'), "", S::failed,
       kMaxChunkLine + 1},
      {"incomplete chunk: its data so far", stream, "5\r\nabc", "abc", S::more, all},

      {"answer: two chunks, the last one and its CR LF", answer,
       "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\nextra", "abcde", S::ended, 20},
      {"answer: the last chunk waits for its CR LF", answer, "1\r\na\r\n0\r\n\r", "a", S::more,
       all},
      {"answer: trailers are not taken", answer, "0\r\nx: y\r\n\r\n", "", S::failed, all},
      {"answer: a size line must be hexadecimal", answer, "3\r\nabc\r\nxyz\r\n", "abc", S::failed,
       all},
      {"answer: LF alone fails", answer, "2\nab\r\n", "", S::failed, all},
      {"answer: data must end in CR LF", answer, "2\r\nab!!", "ab", S::failed, all},
      {"answer: oversize fails", answer, "100001\r\n", "", S::failed, all},
  };
  for (const Case& c : cases) {
    const size_t used = c.used == all ? c.wire.size() : c.used;
    Decoded whole = decode(c.rules, {c.wire});
    EXPECT_EQ(whole.data, c.data) << c.what;
    EXPECT_EQ(whole.status, c.status) << c.what;
    if (c.status != S::failed) {
      EXPECT_EQ(whole.used, used) << c.what;
    }
    if (c.wire.size() > 4096) continue;
    for (size_t cut = 0; cut <= c.wire.size(); ++cut) {
      Decoded split = decode(c.rules, {c.wire.substr(0, cut), c.wire.substr(cut)});
      EXPECT_EQ(split.data, c.data) << c.what << " cut at " << cut;
      EXPECT_EQ(split.status, c.status) << c.what << " cut at " << cut;
      if (c.status != S::failed) {
        EXPECT_EQ(split.used, used) << c.what << " cut at " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace mossbank
