// Feeds an arbitrary command stream body, cut into pieces the first byte
// chooses, through the chunked decoder and the event parser: the events and
// the decoder's end must not depend on where the reads were cut.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "run/link/sse.h"

namespace {

struct Outcome {
  std::vector<std::string> chunks;
  std::vector<std::pair<std::string, std::string>> events;
  mossbank::run::ChunkedBody::Status status;
};

Outcome decode(std::string_view bytes, size_t piece) {
  mossbank::run::ChunkedBody body;
  mossbank::run::SseParser parser;
  Outcome out{{}, {}, mossbank::run::ChunkedBody::Status::more};
  std::vector<mossbank::run::SseEvent> events;
  for (size_t i = 0; i < bytes.size() && out.status == mossbank::run::ChunkedBody::Status::more;
       i += piece) {
    std::vector<std::string> chunks;
    out.status = body.feed(bytes.substr(i, piece), chunks);
    for (std::string& c : chunks) {
      if (c.size() > mossbank::run::kMaxChunk) std::abort();
      parser.feed(c, events);
      out.chunks.push_back(std::move(c));
    }
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
  if (cut.chunks != whole.chunks || cut.events != whole.events || cut.status != whole.status)
    std::abort();
  return 0;
}
