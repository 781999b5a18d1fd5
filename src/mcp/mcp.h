// The MCP server behind `mossbank mcp`: JSON-RPC 2.0 over stdio, one JSON
// text per line each way, with the village's tools.
//
//   serve_mcp       reads the input fd in 64 KiB reads until it ends, cuts
//                   lines at LF, CR LF or a lone CR, and runs each message
//                   on a worker thread of its own (at most 16 at a time: the
//                   oldest is waited for first). A line that is not JSON is
//                   answered at once with -32700 "Parse error" (id null). A
//                   batch (an array) runs 16 elements at a time and is
//                   answered with one array in element order, or not at all
//                   when no element has an answer. Returns once input has
//                   ended and every answer has been written.
//   handle_request  one message (or batch element) → its answer, or none
//                   for a notification. Checks the envelope and answers
//                   ping, initialize, tools/list and tools/call. A tool's
//                   trouble (the village is off, the daemon refuses) is a
//                   tool result with "isError": true, never a JSON-RPC error.
//   MessageWriter   one lock around the output: each answer is one whole
//                   line. When the reader of the output has gone (EPIPE) the
//                   process prints the EPIPE text on stderr and exits 1.
//
// The context is built once by the entry and read by every worker; the
// daemon client inside it is safe to call from several threads.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/json.h"
#include "daemon/daemon_client.h"
#include "daemon/home.h"

namespace mossbank::mcp {

// Who is calling, sent along with every letters call.
struct CallIdentity {
  std::optional<std::string> run_id;   // MOSSBANK_RUN_ID, absent when unset or empty
  std::optional<uint32_t> parent_pid;  // getppid(), only when 2 or more
  UiLanguage language = UiLanguage::English;
};

struct McpServerContext {
  std::string server_version;
  CallIdentity identity;
  std::shared_ptr<DaemonClient> daemon;
  UiLanguage message_language = UiLanguage::English;
};

// The context of a server with these inputs (both languages set to
// identity.language).
std::shared_ptr<const McpServerContext> make_server_context(std::string server_version,
                                                            CallIdentity identity,
                                                            std::shared_ptr<DaemonClient> daemon);

// The text written to stderr when the output's reader has gone, as Node
// reports it (69 bytes).
inline constexpr std::string_view kEpipeText =
    "Error: write EPIPE\n  errno: -32,\n  code: 'EPIPE',\n  syscall: 'write'\n";

class MessageWriter {
 public:
  // Called, under the writer's lock, when a write fails with EPIPE. The
  // default writes kEpipeText to stderr and ends the process with status 1.
  using BrokenPipe = std::function<void()>;

  explicit MessageWriter(int fd = STDOUT_FILENO, BrokenPipe on_broken_pipe = {});
  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // to_js_json(answer) and "\n", written whole under the lock. Errors other
  // than EPIPE lose the line and are otherwise ignored.
  void write_line(const JsonValue& answer);

 private:
  std::mutex mutex_;
  int fd_;
  BrokenPipe on_broken_pipe_;
};

inline void write_message_line(MessageWriter& writer, const JsonValue& answer) {
  writer.write_line(answer);
}

// Serves until `input_fd` ends (EOF or a read error other than EINTR), then
// joins every worker.
void serve_mcp(std::shared_ptr<const McpServerContext> context,
               std::shared_ptr<MessageWriter> writer, int input_fd = STDIN_FILENO);

std::optional<JsonValue> handle_request(const McpServerContext& context, const JsonValue& message);

}  // namespace mossbank::mcp
