// Feeds an arbitrary command stream body, cut into pieces the first byte
// chooses, through the chunked decoder and the event parser: the events and
// the decoder's end must not depend on where the reads were cut.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/chunked.h"
#include "run/link/sse.h"

namespace {

constexpr uint64_t kMaxChunk = 0x100000;

struct Outcome {
  std::string data;
  std::vector<std::pair<std::string, std::string>> events;
  mossbank::ChunkedDecoder::Status status;
  bool fed = true;
};

Outcome decode(std::string_view bytes, size_t piece) {
  mossbank::ChunkedDecoder body(mossbank::ChunkedRules::stream(kMaxChunk));
  mossbank::run::SseParser parser;
  Outcome out{{}, {}, mossbank::ChunkedDecoder::Status::more};
  std::vector<mossbank::run::SseEvent> events;
  for (size_t i = 0; i < bytes.size() && out.status == mossbank::ChunkedDecoder::Status::more;
       i += piece) {
    std::string data;
    out.status = body.feed(bytes.substr(i, piece), data);
    if (!parser.feed(data, events)) out.fed = false;
    out.data += data;
  }
  for (auto& e : events) out.events.emplace_back(std::move(e.name), std::move(e.data));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = 1 + data[0] % 64;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  Outcome cut = decode(bytes, piece);
  Outcome whole = decode(bytes, bytes.size() + 1);
  if (cut.data != whole.data || cut.events != whole.events || cut.status != whole.status ||
      cut.fed != whole.fed)
    std::abort();
  return 0;
}
