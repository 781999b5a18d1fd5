// The run's output stream to the daemon: one chunked
// POST /api/runs/<id>/output per stream, carrying the publisher's frames.
//
// A stream is opened when the village watches (request_stream_open), starts
// with 'H' (the published-bytes count it begins at), the backlog and, when
// the daemon's carry-on matches, the last size; it is retired after
// StreamTimings::retire for a new one, and retried after failures with the
// delays of StreamTimings::retries.
// Retiring loses and repeats nothing: the old stream's channel is closed, so
// its writer ends the body with what was queued, and what is published
// meanwhile waits in a backlog that the next stream sends after its 'H'.
//
// Threads. Every timed step is a job on RunShared::jobs that first waits its
// delay on RunShared::waker (the run's end cuts it short, and the job then
// does nothing): the open job (which blocks on the connection), the retry,
// the retire and the retiring stream's shutdown. Each stream has a writer
// (frames out as chunks) and a reply thread (reads the daemon's answer to
// its end, then runs the stream's end callbacks), also jobs of the run.
//
// Locks. request_stream_open and schedule_stream_retry are called under the
// publisher lock; the jobs take it for their decisions only. A stream's own
// lock (its queue and end state) is a leaf: nothing is taken under it, and
// end callbacks run after it is let go.
//
// At the run's end the run loop calls finish_output_stream: no stream opens
// any more, the queued output is written and the body ended (output that
// waited for a stream being replaced goes on a last one), and every
// stream's socket is shut once the daemon has answered (at most about 1 s).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "run/link/publisher.h"

namespace mossbank::run {

struct RunShared;
struct LinkState;
class Jobs;

// The stream's waits. Tests shorten them; the run uses the defaults.
struct StreamTimings {
  std::chrono::milliseconds retire{240000};
  std::chrono::milliseconds retiring_grace{2000};  // a retiring stream is then cut
  std::array<std::chrono::milliseconds, 5> retries{
      std::chrono::milliseconds(250), std::chrono::milliseconds(500),
      std::chrono::milliseconds(1000), std::chrono::milliseconds(2000),
      std::chrono::milliseconds(5000)};
  std::chrono::milliseconds connect{2000};
  std::chrono::milliseconds reply_head{2000};
};

// The delay of the retry after `count` earlier ones.
std::chrono::milliseconds retry_delay(const StreamTimings& timings, uint32_t count);

// The daemon's "x-mossbank-carry-on": where the stream it replaces ended
// (published-bytes count) and how many size frames it had carried.
struct CarryOn {
  uint64_t offset = 0;
  uint32_t size_frames = 0;
  bool operator==(const CarryOn&) const = default;
};
inline constexpr std::string_view kCarryOnHeader = "x-mossbank-carry-on";

// "<1-15 digits> <1-9 digits>", else none.
std::optional<CarryOn> parse_carry_on(std::string_view value);

// The request head, byte for byte; none when the token cannot be a header
// value.
std::optional<std::string> output_stream_head(std::string_view run_id, uint16_t port,
                                              std::string_view token);

// One chunk of the body: its length in lower-case hex, CR LF, the bytes, CR LF.
void append_chunk(std::string& out, std::string_view bytes);
inline constexpr std::string_view kLastChunk = "0\r\n\r\n";

struct StreamCore;

// One open stream: the publisher's subscriber. Dropping the last handle
// closes its channel (the writer then ends the body); the writer and reply
// threads keep the socket until they are done.
class OutputStream final : public Subscriber {
 public:
  explicit OutputStream(std::shared_ptr<StreamCore> core);
  ~OutputStream() override;

  void send(std::string bytes) override;
  uint64_t queued_bytes() const override;
  void shutdown() override;
  void close_channel() override;

  const std::optional<CarryOn>& carry_on() const;
  int socket() const;
  // Calls `callback(closed_by_run)` once the daemon's answer has ended;
  // false (and nothing kept) when it has ended already.
  bool on_end(std::function<void(bool closed_by_run)> callback);
  bool ended() const;
  // Once ended: whether its channel had been closed by the run by then.
  bool ended_by_run() const;

 private:
  std::shared_ptr<StreamCore> core_;
};

// Every stream of the run and its waits. Lives in RunShared.
class OutputStreams {
 public:
  StreamTimings timings;

  // Under the publisher lock: which retry is the pending one, and for which
  // watch. A retry left pending by a watch that ended no longer holds back
  // the retries of the next one.
  uint64_t retry_token = 0;
  uint64_t retry_generation = 0;

  // Streams still writing or waiting for their answer; shut down at once
  // once the run has finished with them.
  void add(const std::shared_ptr<StreamCore>& core);
  // Closes every stream's channel and waits until the daemon has answered
  // each, or the deadline.
  void flush(std::chrono::steady_clock::time_point deadline);
  // Shuts every stream down; one that opens later is shut at once.
  void finish();

 private:
  std::vector<std::shared_ptr<StreamCore>> live();

  std::mutex mutex_;
  bool finished_ = false;
  std::vector<std::weak_ptr<StreamCore>> live_;
};

// Connects, sends the head and reads the answer's head: a stream when the
// daemon answered 200, with its writer and reply threads started on `jobs`.
// None when the link is closed, the village is off, no daemon is proven, or
// anything fails. Blocks (each wait bounded by `timings`, and by `deadline`
// when one is given).
std::shared_ptr<OutputStream> open_output_stream(
    LinkState& link, Jobs& jobs, OutputStreams& streams,
    std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// Under the publisher lock: opens a stream at once unless one is attached,
// opening or retiring, or the publisher is closed or not watched.
void request_stream_open(RunShared& run);
// Under the publisher lock: a retry after the next delay, once per failure.
void schedule_stream_retry(RunShared& run);
// Under the publisher lock: what the retire job does when it is due, for the
// stream attached under `generation`; nothing when either has changed.
void retire_stream(RunShared& run, uint64_t generation,
                   const std::shared_ptr<OutputStream>& stream);

// Takes the attached stream's socket out of the link's slot, shuts it down
// and closes it (the run lets go of the village).
void close_output_stream(RunShared& run);

// The run's end: closes the publisher, ends every stream's body after what
// was queued and waits (at most `bound`) for the daemon to take it, then
// shuts every stream down. Call once the pump is joined; the run's jobs can
// then be joined.
void finish_output_stream(RunShared& run,
                          std::chrono::milliseconds bound = std::chrono::milliseconds(1000));

// Test hook: MOSSBANK_TEST_STREAM_RETIRE_MS (1 to 9 digits) among the
// invocation's environment pairs shortens the retire interval; nothing else
// reads it.
void apply_stream_test_hook(OutputStreams& streams,
                            const std::vector<std::pair<std::string, std::string>>& environment);

}  // namespace mossbank::run
