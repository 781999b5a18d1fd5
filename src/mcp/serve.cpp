#include "mcp/serve.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "base/files.h"
#include "base/text.h"
#include "base/utf8.h"
#include "mcp/handler.h"
#include "mcp/mcp.h"

namespace mossbank::mcp {

std::vector<std::string> LineCutter::feed(std::string_view bytes, bool end) {
  pending_.append(bytes);
  std::vector<std::string> lines;
  size_t start = 0;
  size_t pos = scanned_;
  while (pos < pending_.size()) {
    size_t at = pending_.find_first_of("\r\n", pos);
    if (at == std::string::npos) {
      pos = pending_.size();
      break;
    }
    size_t next;
    if (pending_[at] == '\n') {
      next = at + 1;
    } else if (at + 1 < pending_.size()) {
      next = pending_[at + 1] == '\n' ? at + 2 : at + 1;
    } else if (end) {
      next = at + 1;
    } else {
      pos = at;  // a "\r" last: wait for what follows it
      break;
    }
    lines.emplace_back(pending_, start, at - start);
    start = pos = next;
  }
  if (end) {
    if (start < pending_.size()) lines.emplace_back(pending_, start);
    pending_.clear();
    scanned_ = 0;
    return lines;
  }
  pending_.erase(0, start);
  scanned_ = pos - start;
  return lines;
}

std::shared_ptr<const McpServerContext> make_server_context(std::string server_version,
                                                            CallIdentity identity,
                                                            std::shared_ptr<DaemonClient> daemon) {
  auto context = std::make_shared<McpServerContext>();
  context->server_version = std::move(server_version);
  context->message_language = identity.language;
  context->identity = std::move(identity);
  context->daemon = std::move(daemon);
  return context;
}

namespace {

[[noreturn]] void exit_broken_pipe() {
  write_all(STDERR_FILENO, kEpipeText);
  // Other workers may still be running: leave at once, without running
  // static destructors under them.
  ::_exit(1);
}

// An answer for each element, 16 at a time on scoped threads, in element
// order; none when no element has one.
std::optional<JsonValue> handle_batch(const McpServerContext& context, const JsonValue& batch) {
  JsonValue answers = JsonValue::array();
  for (size_t first = 0; first < batch.size(); first += kBatchChunk) {
    size_t count = std::min(kBatchChunk, batch.size() - first);
    std::vector<std::optional<JsonValue>> chunk(count);
    {
      std::vector<std::jthread> threads;
      threads.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        auto run = [&context, &batch, &chunk, first, i] {
          try {
            chunk[i] = handle_request(context, batch[first + i]);
          } catch (const std::exception&) {
            // A failed element has no answer.
          }
        };
        try {
          threads.emplace_back(run);
        } catch (const std::system_error&) {
          run();  // no thread to spare: handle it here
        }
      }
    }  // joins the chunk's threads
    for (std::optional<JsonValue>& answer : chunk)
      if (answer) answers.push_back(std::move(*answer));
  }
  if (answers.empty()) return std::nullopt;
  return answers;
}

void serve_message(const JsonValue& message, const McpServerContext& context,
                   MessageWriter& writer) {
  std::optional<JsonValue> answer =
      message.is_array() ? handle_batch(context, message) : handle_request(context, message);
  if (answer) writer.write_line(*answer);
}

// What one worker owns: the message and shares of the context and writer.
struct WorkerTask {
  JsonValue message;
  std::shared_ptr<const McpServerContext> context;
  std::shared_ptr<MessageWriter> writer;
};

struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> finished;
};

class Workers {
 public:
  ~Workers() { join_all(); }

  void reap() {
    for (auto it = running_.begin(); it != running_.end();) {
      if (it->finished->load(std::memory_order_acquire)) {
        it->thread.join();
        it = running_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Makes room for one more: at most kMaxWorkers - 1 stay running, and the
  // oldest is waited for first.
  void make_room() {
    reap();
    while (running_.size() >= kMaxWorkers) {
      running_.front().thread.join();
      running_.pop_front();
      reap();
    }
  }

  void start(JsonValue message, std::shared_ptr<const McpServerContext> context,
             std::shared_ptr<MessageWriter> writer) {
    auto task = std::make_shared<WorkerTask>(
        WorkerTask{std::move(message), std::move(context), std::move(writer)});
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto body = [task, finished] {
      try {
        serve_message(task->message, *task->context, *task->writer);
      } catch (const std::exception&) {
        // A broken message gives no answer; the server goes on.
      }
      finished->store(true, std::memory_order_release);
    };
    try {
      running_.push_back(Worker{std::thread(body), finished});
    } catch (const std::system_error&) {
      body();  // no thread to spare: serve it on the reading thread
    }
  }

  void join_all() {
    while (!running_.empty()) {
      running_.front().thread.join();
      running_.pop_front();
    }
  }

 private:
  std::deque<Worker> running_;
};

}  // namespace

MessageWriter::MessageWriter(int fd, BrokenPipe on_broken_pipe)
    : fd_(fd), on_broken_pipe_(std::move(on_broken_pipe)) {}

void MessageWriter::write_line(const JsonValue& answer) {
  std::string line = to_js_json(answer);
  line += '\n';
  std::lock_guard lock(mutex_);
  // Any other failure loses only this line; the server goes on.
  if (write_all(fd_, line).code == EPIPE) {
    if (on_broken_pipe_) {
      on_broken_pipe_();
      return;
    }
    exit_broken_pipe();
  }
}

void serve_mcp(std::shared_ptr<const McpServerContext> context,
               std::shared_ptr<MessageWriter> writer, int input_fd) {
  LineCutter cutter;
  Workers workers;
  std::string buffer(kReadSize, '\0');
  bool end = false;
  while (!end) {
    ssize_t n = ::read(input_fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      end = true;
      n = 0;
    }
    for (const std::string& raw : cutter.feed(std::string_view(buffer.data(), size_t(n)), end)) {
      workers.make_room();
      std::string text = utf8_lossy(raw);
      std::string_view trimmed = js_trim(text);
      if (trimmed.empty()) continue;
      std::optional<JsonValue> message = parse_json(trimmed);
      if (!message) {
        writer->write_line(parse_error_answer());
        continue;
      }
      workers.start(std::move(*message), context, writer);
    }
    workers.reap();
  }
  workers.join_all();
}

}  // namespace mossbank::mcp
