#include "run/link/output_stream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <variant>

#include "base/unique_fd.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "daemon/http_client.h"
#include "platform/sockets.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

namespace {

constexpr size_t kWriteBatch = 256 * 1024;
// While output flows, the writer gathers frames for this long (or this
// many bytes) before it writes: a write to the daemon costs far more than a
// frame's copy. The first frame after a quiet spell goes at once.
constexpr std::chrono::milliseconds kGather{2};
constexpr size_t kGatherBytes = 64 * 1024;
constexpr std::string_view kTestRetireVariable = "MOSSBANK_TEST_STREAM_RETIRE_MS";

bool all_digits(std::string_view text, size_t most) {
  return !text.empty() && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint64_t digits_value(std::string_view text) {
  uint64_t value = 0;
  for (char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
  return value;
}

}  // namespace

// What a stream's handle, its writer and its reply thread share. The socket
// is set before the threads start and closed when the last of them lets go.
struct StreamCore {
  UniqueFd socket;
  std::optional<CarryOn> carry_on;
  std::atomic<uint64_t> queued{0};

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> queue;
  size_t queue_bytes = 0;
  bool writer_idle = false;     // waiting for a first frame: each frame wakes it
  bool channel_closed = false;  // by the run: the writer ends the body
  bool writer_failed = false;
  bool threads_started = false;
  bool ended = false;  // the daemon's answer is over (or the socket failed)
  bool ended_by_run = false;
  std::vector<std::function<void(bool)>> end_callbacks;

  void shutdown() const { ::shutdown(socket.get(), SHUT_RDWR); }

  void close_channel() {
    {
      std::lock_guard lock(mutex);
      channel_closed = true;
    }
    changed.notify_all();
  }
};

namespace {

// The writer: each queued frame goes out as one chunk, many chunks to a
// write; the closed channel ends the body.
void write_body(const std::shared_ptr<StreamCore>& core) {
  std::string out;
  auto last_write = std::chrono::steady_clock::time_point{};
  for (;;) {
    std::deque<std::string> taken;
    bool last = false;
    {
      std::unique_lock lock(core->mutex);
      core->writer_idle = true;
      core->changed.wait(
          lock, [&] { return !core->queue.empty() || core->channel_closed || core->ended; });
      core->writer_idle = false;
      const auto gathered = last_write + kGather;
      if (std::chrono::steady_clock::now() < gathered)
        core->changed.wait_until(lock, gathered, [&] {
          return core->queue_bytes >= kGatherBytes || core->channel_closed || core->ended;
        });
      if (core->ended) return;
      taken.swap(core->queue);
      core->queue_bytes = 0;
      last = core->channel_closed;  // nothing is queued after the close
    }
    last_write = std::chrono::steady_clock::now();
    size_t i = 0;
    while (i < taken.size() || last) {
      out.clear();
      uint64_t bytes = 0;
      while (i < taken.size() && out.size() < kWriteBatch) {
        append_chunk(out, taken[i]);
        bytes += taken[i].size();
        std::string().swap(taken[i]);
        ++i;
      }
      const bool ending = last && i == taken.size();
      if (ending) out += kLastChunk;
      const bool ok = send_all(core->socket.get(), out);
      core->queued.fetch_sub(bytes);
      if (!ok) {
        for (; i < taken.size(); ++i) core->queued.fetch_sub(taken[i].size());
        {
          std::lock_guard lock(core->mutex);
          core->writer_failed = true;
          for (const std::string& chunk : core->queue) core->queued.fetch_sub(chunk.size());
          core->queue.clear();
          core->queue_bytes = 0;
        }
        core->shutdown();
        return;
      }
      if (ending) return;
    }
    if (out.capacity() > 4 * kWriteBatch) std::string().swap(out);
  }
}

// The reply thread: reads the daemon's answer to its end, then ends the
// stream and runs its end callbacks.
void read_reply(const std::shared_ptr<StreamCore>& core) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::recv(core->socket.get(), buffer, sizeof buffer, 0);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;
  }
  core->shutdown();
  std::vector<std::function<void(bool)>> callbacks;
  bool by_run = false;
  {
    std::lock_guard lock(core->mutex);
    core->ended = true;
    by_run = core->ended_by_run = core->channel_closed;
    callbacks.swap(core->end_callbacks);
  }
  core->changed.notify_all();
  for (auto& callback : callbacks) callback(by_run);
}

// Runs `body` on a job of the run once `delay` has passed; nothing when the
// run ends first.
bool start_job(RunShared& run, std::chrono::milliseconds delay,
               std::function<void(RunShared&)> body) {
  RunShared* r = &run;
  return run.jobs.start("output stream", [r, delay, body = std::move(body)] {
    if (!r->waker.sleep_for(delay)) return;
    body(*r);
  });
}

void keep_in_slot(LinkState& link, int socket) {
  Result<UniqueFd> copy = platform::duplicate_fd(socket);
  UniqueFd old;
  {
    std::lock_guard lock(link.stream_mutex);
    old = std::exchange(link.output_stream_fd, copy ? std::move(*copy) : UniqueFd());
  }
}

void attached_stream_ended(RunShared& run, const std::weak_ptr<OutputStream>& weak) {
  std::shared_ptr<OutputStream> stream = weak.lock();
  std::lock_guard lock(run.publisher_mutex);
  if (!stream || run.publisher.subscriber != stream) return;
  run.publisher.subscriber.reset();
  schedule_stream_retry(run);
}

// Under the publisher lock.
void retiring_stream_ended(RunShared& run, const std::shared_ptr<OutputStream>& stream,
                           bool by_run) {
  Publisher& p = run.publisher;
  if (!stream || p.retiring != stream) return;
  p.retiring.reset();
  if (by_run) {
    request_stream_open(run);
  } else {
    p.backlog.reset();
    p.backlog_size = 0;
    schedule_stream_retry(run);
  }
}

// Under the publisher lock: the stream becomes the subscriber and is sent
// 'H', the backlog and, when the carry-on matches, the last size.
void attach_stream(RunShared& run, const std::shared_ptr<OutputStream>& stream) {
  Publisher& p = run.publisher;
  p.subscriber = stream;
  RunShared* owner = &run;
  std::weak_ptr<OutputStream> weak = stream;
  const bool watching_end =
      stream->on_end([owner, weak](bool) { attached_stream_ended(*owner, weak); });

  std::optional<std::vector<Frame>> backlog = std::move(p.backlog);
  p.backlog.reset();
  const uint64_t backlog_size = std::exchange(p.backlog_size, 0);
  const uint64_t start = backlog ? p.backlog_start : p.published;
  p.limit = kBacklogLimit + (backlog ? backlog_size : 0);
  const auto last_size = std::exchange(p.last_size, std::nullopt);
  const std::optional<CarryOn>& carry_on = stream->carry_on();
  const bool carried = carry_on && carry_on->offset == start;

  send_frame(run, head_frame(start));
  if (backlog)
    for (const Frame& frame : *backlog) send_frame(run, frame);
  if (carried && last_size) send_frame(run, size_frame(last_size->first, last_size->second));
  p.size_frames = carried ? carry_on->size_frames : 0;

  if (!watching_end) {  // it ended before it was watched
    if (p.subscriber == stream) {
      p.subscriber.reset();
      schedule_stream_retry(run);
    }
    return;
  }
  if (p.subscriber != stream || stream->ended()) return;
  const uint64_t generation = p.generation;
  start_job(run, run.output_streams.timings.retire, [generation, weak](RunShared& r) {
    std::shared_ptr<OutputStream> due = weak.lock();
    std::lock_guard lock(r.publisher_mutex);
    retire_stream(r, generation, due);
  });
}

void open_job(RunShared& run) {
  std::shared_ptr<OutputStream> stream = open_output_stream(run.link, run.jobs, run.output_streams);
  if (stream) keep_in_slot(run.link, stream->socket());
  std::lock_guard lock(run.publisher_mutex);
  Publisher& p = run.publisher;
  p.opening = false;
  if (!stream) {
    schedule_stream_retry(run);
  } else if (!p.enabled || p.closed) {
    stream->close_channel();
  } else {
    attach_stream(run, stream);
  }
}

}  // namespace

std::chrono::milliseconds retry_delay(const StreamTimings& timings, uint32_t count) {
  return timings.retries[std::min<size_t>(count, timings.retries.size() - 1)];
}

std::optional<CarryOn> parse_carry_on(std::string_view value) {
  const size_t blank = value.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string_view offset = value.substr(0, blank);
  const std::string_view sizes = value.substr(blank + 1);
  if (!all_digits(offset, 15) || !all_digits(sizes, 9)) return std::nullopt;
  return CarryOn{digits_value(offset), static_cast<uint32_t>(digits_value(sizes))};
}

std::optional<std::string> output_stream_head(std::string_view run_id, uint16_t port,
                                              std::string_view token) {
  return request_head("POST", run_path(run_id, "/output"), port,
                      {{std::string(kContentTypeHeader), "application/octet-stream"},
                       {std::string(kTokenHeader), std::string(token)},
                       {std::string(kCarryOnHeader), "1"},
                       {"transfer-encoding", "chunked"},
                       {"connection", "close"}});
}

void append_chunk(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  char size[16];
  size_t n = 0;
  size_t value = bytes.size();
  do {
    size[n++] = kHex[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n > 0) out.push_back(size[--n]);
  out += "\r\n";
  out.append(bytes);
  out += "\r\n";
}

OutputStream::OutputStream(std::shared_ptr<StreamCore> core) : core_(std::move(core)) {}

OutputStream::~OutputStream() { core_->close_channel(); }

void OutputStream::send(std::string bytes) {
  if (bytes.empty()) return;  // an empty chunk would end the body
  core_->queued.fetch_add(bytes.size());
  bool wake = false;
  {
    std::lock_guard lock(core_->mutex);
    if (core_->channel_closed || core_->writer_failed) return;
    const size_t before = core_->queue_bytes;
    core_->queue_bytes += bytes.size();
    core_->queue.push_back(std::move(bytes));
    // A gathering writer needs waking only once it has enough.
    wake = core_->writer_idle || (before < kGatherBytes && core_->queue_bytes >= kGatherBytes);
  }
  if (wake) core_->changed.notify_all();
}

uint64_t OutputStream::queued_bytes() const { return core_->queued.load(); }

void OutputStream::shutdown() { core_->shutdown(); }

void OutputStream::close_channel() { core_->close_channel(); }

const std::optional<CarryOn>& OutputStream::carry_on() const { return core_->carry_on; }

int OutputStream::socket() const { return core_->socket.get(); }

bool OutputStream::on_end(std::function<void(bool)> callback) {
  std::lock_guard lock(core_->mutex);
  if (core_->ended) return false;
  core_->end_callbacks.push_back(std::move(callback));
  return true;
}

bool OutputStream::ended() const {
  std::lock_guard lock(core_->mutex);
  return core_->ended;
}

bool OutputStream::ended_by_run() const {
  std::lock_guard lock(core_->mutex);
  return core_->ended_by_run;
}

void OutputStreams::add(const std::shared_ptr<StreamCore>& core) {
  std::lock_guard lock(mutex_);
  if (finished_) {
    core->shutdown();
    return;
  }
  std::erase_if(live_, [](const std::weak_ptr<StreamCore>& w) { return w.expired(); });
  live_.push_back(core);
}

std::vector<std::shared_ptr<StreamCore>> OutputStreams::live() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<StreamCore>> cores;
  for (const auto& weak : live_)
    if (auto core = weak.lock()) cores.push_back(std::move(core));
  return cores;
}

void OutputStreams::flush(std::chrono::steady_clock::time_point deadline) {
  for (const auto& core : live()) {
    core->close_channel();
    std::unique_lock lock(core->mutex);
    if (!core->threads_started) continue;  // still opening: nothing to flush
    core->changed.wait_until(lock, deadline, [&] { return core->ended; });
  }
}

void OutputStreams::finish() {
  std::vector<std::shared_ptr<StreamCore>> cores = live();
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    live_.clear();
  }
  for (const auto& core : cores) core->shutdown();
}

std::shared_ptr<OutputStream> open_output_stream(
    LinkState& link, Jobs& jobs, OutputStreams& streams,
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (link.closed.load() || village_off(link.home)) return nullptr;
  const std::optional<Route> route = link.copy_route();
  if (!route) return nullptr;
  const std::optional<std::string> head =
      output_stream_head(link.run_id, route->port, route->token);
  if (!head) return nullptr;
  // Each wait is its own time-out, or what is left before the deadline.
  const auto wait_most = [&](std::chrono::milliseconds own) {
    if (!deadline) return own;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), own);
  };
  if (wait_most(streams.timings.connect).count() == 0) return nullptr;
  auto connected = connect_loopback(route->port, wait_most(streams.timings.connect));
  auto* socket = std::get_if<UniqueFd>(&connected);
  if (socket == nullptr) return nullptr;
  int one = 1;
  ::setsockopt(socket->get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  auto core = std::make_shared<StreamCore>();
  core->socket = std::move(*socket);
  streams.add(core);  // from here the run's end can cut the wait for the answer
  const int fd = core->socket.get();
  if (!send_all(fd, *head)) return nullptr;
  const std::chrono::milliseconds head_wait = wait_most(streams.timings.reply_head);
  if (head_wait.count() == 0) return nullptr;
  set_read_timeout(fd, head_wait);
  // What follows the head belongs to the body, which the reply thread reads
  // and ignores.
  const std::optional<StreamHead> reply = read_response_head(fd);
  if (!reply || reply->head.status != 200) {
    core->shutdown();
    return nullptr;
  }
  if (const std::string* value = find_header(reply->head.headers, kCarryOnHeader))
    core->carry_on = parse_carry_on(*value);
  set_read_timeout(fd, std::chrono::milliseconds(0));

  {
    std::lock_guard lock(core->mutex);
    core->threads_started = true;
  }
  if (!jobs.start("output stream", [core] { write_body(core); })) {
    core->shutdown();
    std::lock_guard lock(core->mutex);
    core->threads_started = false;
    return nullptr;
  }
  if (!jobs.start("output stream", [core] { read_reply(core); })) {
    core->close_channel();
    core->shutdown();
    std::lock_guard lock(core->mutex);
    core->threads_started = false;
    core->ended = true;
    return nullptr;
  }
  return std::make_shared<OutputStream>(core);
}

void request_stream_open(RunShared& run) {
  Publisher& p = run.publisher;
  if (p.opening || p.closed || !p.enabled || p.subscriber || p.retiring) return;
  p.opening = true;
  if (!start_job(run, std::chrono::milliseconds(0), open_job)) p.opening = false;
}

void schedule_stream_retry(RunShared& run) {
  Publisher& p = run.publisher;
  OutputStreams& streams = run.output_streams;
  if (!p.enabled || p.closed) return;
  if (p.retry_pending && streams.retry_generation == p.generation) return;
  const std::chrono::milliseconds delay = retry_delay(streams.timings, p.retry_count);
  ++p.retry_count;
  p.retry_pending = true;
  const uint64_t token = ++streams.retry_token;
  const uint64_t generation = streams.retry_generation = p.generation;
  const bool started = start_job(run, delay, [token, generation](RunShared& r) {
    std::lock_guard lock(r.publisher_mutex);
    Publisher& q = r.publisher;
    if (!q.retry_pending || r.output_streams.retry_token != token) return;
    q.retry_pending = false;
    if (q.generation == generation) request_stream_open(r);
  });
  if (!started) p.retry_pending = false;
}

void retire_stream(RunShared& run, uint64_t generation,
                   const std::shared_ptr<OutputStream>& stream) {
  Publisher& p = run.publisher;
  if (!stream || p.generation != generation || p.subscriber != stream) return;
  p.subscriber.reset();
  p.retiring = stream;
  p.backlog.emplace();
  p.backlog_size = 0;
  p.backlog_start = p.published;
  p.retry_count = 0;  // it served its whole time
  stream->close_channel();

  std::weak_ptr<OutputStream> weak = stream;
  start_job(run, run.output_streams.timings.retiring_grace, [weak](RunShared&) {
    if (std::shared_ptr<OutputStream> late = weak.lock()) late->shutdown();
  });
  RunShared* r = &run;
  const bool watching_end = stream->on_end([r, weak](bool by_run) {
    std::shared_ptr<OutputStream> ended = weak.lock();
    std::lock_guard lock(r->publisher_mutex);
    retiring_stream_ended(*r, ended, by_run);
  });
  if (!watching_end) retiring_stream_ended(run, stream, stream->ended_by_run());
}

void close_output_stream(RunShared& run) {
  LinkState& link = run.link;
  UniqueFd fd;
  {
    std::lock_guard lock(link.stream_mutex);
    fd = std::exchange(link.output_stream_fd, UniqueFd());
  }
  if (fd) ::shutdown(fd.get(), SHUT_RDWR);
}

void finish_output_stream(RunShared& run, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::shared_ptr<Subscriber> attached;
  std::shared_ptr<Subscriber> retiring;
  std::optional<std::vector<Frame>> backlog;
  uint64_t backlog_start = 0;
  {
    std::lock_guard lock(run.publisher_mutex);
    Publisher& p = run.publisher;
    p.closed = true;
    attached = std::exchange(p.subscriber, nullptr);
    retiring = std::exchange(p.retiring, nullptr);
    backlog = std::exchange(p.backlog, std::nullopt);
    backlog_start = p.backlog_start;
    p.backlog_size = 0;
  }
  if (attached) attached->close_channel();
  if (retiring) retiring->close_channel();
  attached.reset();
  retiring.reset();
  run.output_streams.flush(deadline);
  if (backlog && !backlog->empty()) {
    // The run ended while a stream was being replaced: what came since goes
    // on a last stream of its own, as the next one would have carried it.
    if (auto last = open_output_stream(run.link, run.jobs, run.output_streams, deadline)) {
      last->send(encode_frame(head_frame(backlog_start)));
      for (const Frame& frame : *backlog) last->send(encode_frame(frame));
      last->close_channel();
      run.output_streams.flush(deadline);
    }
  }
  run.output_streams.finish();
  close_output_stream(run);
}

void apply_stream_test_hook(OutputStreams& streams,
                            const std::vector<std::pair<std::string, std::string>>& environment) {
  for (const auto& [name, value] : environment) {
    if (name != kTestRetireVariable) continue;
    if (all_digits(value, 9))
      streams.timings.retire = std::chrono::milliseconds(digits_value(value));
    return;
  }
}

}  // namespace mossbank::run
