// Feeds arbitrary daemon answers, cut into pieces the first byte chooses, to
// the response reader: it must never read out of bounds, and what it reports
// must hold together.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "daemon/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = 1 + data[0] % 64;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  mossbank::ResponseReader reader;
  auto progress = mossbank::ResponseReader::Progress::need_more;
  for (size_t i = 0; i < bytes.size() && progress == mossbank::ResponseReader::Progress::need_more;
       i += piece)
    progress = reader.add(bytes.substr(i, piece));
  if (progress == mossbank::ResponseReader::Progress::need_more) progress = reader.end_of_stream();

  bool reusable = reader.reusable();
  mossbank::HttpResponse response = reader.take_response();
  const auto* reply = std::get_if<mossbank::HttpReply>(&response);
  bool complete = progress == mossbank::ResponseReader::Progress::complete;
  if (complete != (reply != nullptr)) std::abort();
  if (!complete && reusable) std::abort();
  if (reply != nullptr && reply->body.size() > bytes.size()) std::abort();
  if (const auto* failure = std::get_if<mossbank::HttpFailure>(&response))
    if (failure->timed_out || failure->refused) std::abort();
  return 0;
}
