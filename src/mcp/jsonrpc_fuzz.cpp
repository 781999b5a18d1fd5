// libFuzzer target: one chunk of input as the serve loop reads it, cut into
// lines, each parsed and handled as a message (a batch element by element)
// with a daemon that is always off, and each answer written.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/text.h"
#include "base/utf8.h"
#include "base/version.h"
#include "mcp/handler.h"
#include "mcp/mcp.h"
#include "mcp/serve.h"

namespace {

class OffDaemon final : public mossbank::DaemonClient {
 public:
  mossbank::DaemonAnswer get(const std::string&) override { return std::nullopt; }
  mossbank::DaemonAnswer post(const std::string&, const mossbank::JsonValue&) override {
    return std::nullopt;
  }
  mossbank::DaemonAnswer post_within(const std::string&, const mossbank::JsonValue&,
                                     std::chrono::nanoseconds) override {
    return std::nullopt;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mossbank;
  static const std::shared_ptr<const mcp::McpServerContext> context =
      mcp::make_server_context(kVersion, {}, std::make_shared<OffDaemon>());
  mcp::LineCutter cutter;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string& raw : cutter.feed(input, true)) {
    std::string text = utf8_lossy(raw);
    std::string_view trimmed = js_trim(text);
    if (trimmed.empty()) continue;
    std::optional<JsonValue> message = parse_json(trimmed);
    if (!message) continue;
    if (message->is_array()) {
      for (const JsonValue& element : *message)
        if (auto answer = mcp::handle_request(*context, element)) (void)to_js_json(*answer);
    } else if (auto answer = mcp::handle_request(*context, *message)) {
      (void)to_js_json(*answer);
    }
  }
  return 0;
}
