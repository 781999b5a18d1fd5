#include "run/link/output_stream.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "run/session/run_shared.h"
#include "run/testing/test_files.h"
#include "run/testing/test_stream_server.h"

namespace mossbank::run {
namespace {

using namespace std::chrono_literals;
using testing::decode_frames;
using testing::frame_number;
using testing::ReceivedStream;
using testing::StreamAnswer;
using testing::StreamServer;

constexpr char kToken[] = "token-1";
constexpr char kRunId[] = "run-0001";

StreamTimings quick_timings() {
  StreamTimings t;
  t.retire = 1h;  // retired by hand where a test wants it
  t.retries = {1ms, 1ms, 1ms, 1ms, 1ms};
  return t;
}

// A run whose link has proven the stand-in daemon.
class StreamRun {
 public:
  explicit StreamRun(StreamServer::Chooser choose = {}, StreamTimings timings = quick_timings())
      : server(std::move(choose)) {
    run = std::make_shared<RunShared>(80, 24, home.path(), kRunId);
    run->output_streams.timings = timings;
    run->link.set_route(Route{server.port(), kToken});
  }
  ~StreamRun() {
    finish_output_stream(*run, 10s);
    run->waker.end();
    run->jobs.join_all();
  }

  void watch() {
    std::lock_guard lock(run->publisher_mutex);
    run->publisher.enabled = true;
    request_stream_open(*run);
  }

  void publish(std::string_view bytes) {
    std::lock_guard lock(run->publisher_mutex);
    run->publisher.published += bytes.size();
    publish_frame(*run, data_frame(bytes));
  }

  // Until a failed open has left its retry waiting.
  void wait_retry_pending() {
    for (bool pending = false; !pending; std::this_thread::yield()) {
      std::lock_guard lock(run->publisher_mutex);
      pending = run->publisher.retry_pending;
    }
  }

  std::shared_ptr<OutputStream> attached() {
    std::lock_guard lock(run->publisher_mutex);
    return attached_locked();
  }
  std::shared_ptr<OutputStream> attached_locked() {
    return std::dynamic_pointer_cast<OutputStream>(run->publisher.subscriber);
  }

  // Until stream `n` (0-based) has its head frame: it is then attached.
  void wait_attached(size_t n) {
    auto got =
        server.wait_for([&](const auto& s) { return s.size() > n && s[n].body.size() >= 13; });
    ASSERT_GT(got.size(), n);
    ASSERT_GE(got[n].body.size(), 13u) << "stream " << n << " never got its head";
  }

  testing::ScratchDir home;
  StreamServer server;
  std::shared_ptr<RunShared> run;
};

std::string data_of(const std::vector<Frame>& frames) {
  std::string out;
  for (const Frame& f : frames)
    if (f.kind == 'D') out += f.body;
  return out;
}

TEST(OutputStreamWire, ChunksCarryTheirLengthInLowerCaseHex) {
  const struct {
    size_t length;
    std::string size;
  } cases[] = {{1, "1"}, {15, "f"}, {16, "10"}, {300, "12c"}, {65541, "10005"}};
  for (const auto& c : cases) {
    const std::string bytes(c.length, 'x');
    std::string out = "before";
    append_chunk(out, bytes);
    EXPECT_EQ(out, "before" + c.size + "\r\n" + bytes + "\r\n") << c.length;
  }
}

TEST(OutputStreamWire, RequestHeadByteForByte) {
  EXPECT_EQ(output_stream_head("abc-1", 4242, "t\xc3\xa9"),
            "POST /api/runs/abc-1/output HTTP/1.1\r\nhost: 127.0.0.1:4242\r\n"
            "content-type: application/octet-stream\r\nx-mossbank-token: t\xe9\r\n"
            "x-mossbank-carry-on: 1\r\ntransfer-encoding: chunked\r\nconnection: close\r\n\r\n");
  EXPECT_EQ(output_stream_head("abc-1", 1, "bad\r\nx: y"), std::nullopt);
}

TEST(OutputStreamWire, CarryOnValues) {
  const struct {
    const char* text;
    std::optional<CarryOn> value;
  } cases[] = {
      {"12 3", CarryOn{12, 3}},
      {"0 0", CarryOn{0, 0}},
      {"123456789012345 123456789", CarryOn{123456789012345, 123456789}},
      {"1234567890123456 1", std::nullopt},  // 16 digits
      {"1 1234567890", std::nullopt},        // 10 digits
      {"12", std::nullopt},
      {"12  3", std::nullopt},
      {"12 3 ", std::nullopt},
      {" 12 3", std::nullopt},
      {"12\t3", std::nullopt},
      {"-1 3", std::nullopt},
      {"1a 3", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_carry_on(c.text), c.value) << '"' << c.text << '"';
}

TEST(OutputStreamWire, RetryDelaysGrowThenStay) {
  const StreamTimings timings;
  const std::pair<uint32_t, int64_t> cases[] = {{0, 250},  {1, 500},  {2, 1000},   {3, 2000},
                                                {4, 5000}, {5, 5000}, {1000, 5000}};
  for (auto [count, ms] : cases) EXPECT_EQ(retry_delay(timings, count).count(), ms) << count;
}

// Waits for the stream's end callback (or sees it ended already).
bool wait_ended(OutputStream& stream) {
  auto ended = std::make_shared<std::promise<bool>>();
  auto result = ended->get_future();
  if (!stream.on_end([ended](bool by_run) { ended->set_value(by_run); }))
    return stream.ended_by_run();
  return result.get();
}

TEST(OutputStreamOpen, BodyIsChunkedAndEndsWithTheLastChunk) {
  const std::string piece(300, 'p');
  for (bool with_chunk : {false, true}) {
    StreamRun r;
    auto stream = open_output_stream(r.run->link, r.run->jobs, r.run->output_streams);
    ASSERT_TRUE(stream);
    if (with_chunk) stream->send(piece);
    stream->close_channel();
    EXPECT_TRUE(wait_ended(*stream)) << "the body ended by the run";
    const auto got = r.server.streams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].head, *output_stream_head(kRunId, r.server.port(), kToken));
    EXPECT_EQ(got[0].raw_body, with_chunk ? "12c\r\n" + piece + "\r\n0\r\n\r\n" : "0\r\n\r\n");
    r.run->jobs.join_all();  // the writer is done
    EXPECT_EQ(stream->queued_bytes(), 0u);
  }
}

TEST(OutputStreamOpen, CarryOnComesFromTheAnswer) {
  const struct {
    const char* header;
    std::optional<CarryOn> value;
  } cases[] = {
      {"X-Mossbank-Carry-On: 12 3\r\n", CarryOn{12, 3}},
      {"x-mossbank-carry-on:  7 0 \r\n", CarryOn{7, 0}},
      {"x-mossbank-carry-on: 12\r\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    StreamRun r([&](size_t) { return StreamAnswer{200, c.header}; });
    auto stream = open_output_stream(r.run->link, r.run->jobs, r.run->output_streams);
    ASSERT_TRUE(stream) << c.header;
    EXPECT_EQ(stream->carry_on(), c.value) << c.header;
  }
}

TEST(OutputStreamOpen, NoStreamWithoutAProvenDaemonOrAfterARefusal) {
  enum class Setting { refused, link_closed, no_route, village_off };
  for (Setting setting :
       {Setting::refused, Setting::link_closed, Setting::no_route, Setting::village_off}) {
    StreamRun r([](size_t) { return StreamAnswer{404}; });
    if (setting == Setting::link_closed) r.run->link.closed = true;
    if (setting == Setting::no_route) r.run->link.set_route(std::nullopt);
    if (setting == Setting::village_off) testing::write_file(r.home / "village-off", "{}");
    EXPECT_FALSE(open_output_stream(r.run->link, r.run->jobs, r.run->output_streams));
    EXPECT_EQ(r.server.streams().size(), setting == Setting::refused ? 1u : 0u);
  }
}

TEST(OutputStreamAttach, HeadBacklogThenTheCarriedSize) {
  const Frame head10 = head_frame(10), ab = data_frame("ab"), cd = data_frame("cd");
  const Frame size = size_frame(120, 40);
  const struct {
    const char* carry_on;  // the daemon's header value, "" for none
    bool backlog;
    std::vector<Frame> frames;
    uint32_t size_frames;
  } cases[] = {
      {"10 3", true, {head10, ab, cd, size}, 3}, {"9 3", true, {head10, ab, cd}, 0},
      {"", true, {head10, ab, cd}, 0},           {"14 2", false, {head_frame(14), size}, 2},
      {"10 2", false, {head_frame(14)}, 0},
  };
  for (const auto& c : cases) {
    const std::string header =
        *c.carry_on ? std::string("x-mossbank-carry-on: ") + c.carry_on + "\r\n" : "";
    StreamRun r([&](size_t) { return StreamAnswer{200, header}; });
    {
      std::lock_guard lock(r.run->publisher_mutex);
      Publisher& p = r.run->publisher;
      p.published = 14;
      if (c.backlog) {
        p.backlog = std::vector<Frame>{ab, cd};
        p.backlog_size = 4;
        p.backlog_start = 10;
      }
      p.last_size = {{120, 40}};
    }
    r.watch();
    r.wait_attached(0);
    uint32_t size_frames = 0;
    {
      std::lock_guard lock(r.run->publisher_mutex);
      size_frames = r.run->publisher.size_frames;
      EXPECT_FALSE(r.run->publisher.backlog);
      EXPECT_FALSE(r.run->publisher.last_size);
    }
    finish_output_stream(*r.run, 10s);
    const auto got = r.server.streams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].complete);
    const std::vector<Frame> frames = decode_frames(got[0].body);
    ASSERT_EQ(frames.size(), c.frames.size()) << c.carry_on;
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].kind, c.frames[i].kind) << c.carry_on << " frame " << i;
      EXPECT_EQ(frames[i].body, c.frames[i].body) << c.carry_on << " frame " << i;
    }
    EXPECT_EQ(size_frames, c.size_frames) << c.carry_on;
  }
}

// Output published at full pace while streams are retired one after the
// other: each stream's head says where it starts, and the data frames of
// all of them, in order, are the output exactly once.
TEST(OutputStreamRetire, LosesAndRepeatsNothing) {
  constexpr size_t kRetires = 12;
  StreamRun r;
  r.watch();
  r.wait_attached(0);

  std::atomic<bool> stop{false};
  std::string published;
  // Below the backlog's and the queue's limit in all, so that nothing may be
  // dropped whatever the pace of the daemon; paced so that it spans the
  // retires.
  constexpr size_t kMost = 6u << 20;
  std::thread publisher([&] {
    for (size_t i = 0; !stop.load() || i < 200; ++i) {
      const std::string piece = "piece " + std::to_string(i) + std::string(i % 97, '.') + ";";
      if (published.size() + piece.size() > kMost) break;
      published += piece;
      r.publish(piece);
      if (i % 64 == 0) std::this_thread::sleep_for(20us);
    }
  });
  struct Stop {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Stop() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } stop_publisher{stop, publisher};
  for (size_t n = 0; n < kRetires; ++n) {
    r.wait_attached(n);
    std::lock_guard lock(r.run->publisher_mutex);
    auto stream = std::dynamic_pointer_cast<OutputStream>(r.run->publisher.subscriber);
    ASSERT_TRUE(stream) << "stream " << n << " is not attached";
    retire_stream(*r.run, r.run->publisher.generation, stream);
    EXPECT_FALSE(r.run->publisher.subscriber);
  }
  r.wait_attached(kRetires);
  stop = true;
  publisher.join();

  const size_t total = published.size();
  r.server.wait_for([&](const auto& streams) {
    size_t data = 0;
    for (const auto& s : streams) data += data_of(decode_frames(s.body)).size();
    return data >= total;
  });
  finish_output_stream(*r.run, 10s);
  const auto streams = r.server.streams();
  ASSERT_EQ(streams.size(), kRetires + 1);
  std::string carried;
  for (size_t n = 0; n < streams.size(); ++n) {
    EXPECT_TRUE(streams[n].complete) << n;
    const std::vector<Frame> frames = decode_frames(streams[n].body);
    ASSERT_FALSE(frames.empty()) << n;
    EXPECT_EQ(frames[0].kind, 'H') << n;
    EXPECT_EQ(frame_number(frames[0].body, 0, 8), carried.size())
        << "stream " << n << " starts where the last ended";
    carried += data_of(frames);
  }
  EXPECT_EQ(carried.size(), total);
  EXPECT_TRUE(carried == published) << "the streams' data differs from the output";
}

TEST(OutputStreamRetire, StreamsRetireOnTheirInterval) {
  StreamTimings timings = quick_timings();
  timings.retire = 0ms;  // every stream retires as soon as it is attached
  StreamRun r({}, timings);
  r.watch();
  r.wait_attached(3);  // three retired, a fourth attached
  const auto streams = r.server.streams();
  for (size_t n = 0; n < 3; ++n) EXPECT_TRUE(decode_frames(streams[n].body).size() == 1) << n;
}

TEST(OutputStreamRetry, FailedOpensAreRetriedThenAttach) {
  StreamRun r([](size_t n) { return StreamAnswer{n < 3 ? 404 : 200}; });
  r.publish("before");  // no stream and no backlog: dropped
  r.watch();
  r.wait_attached(3);
  std::lock_guard lock(r.run->publisher_mutex);
  EXPECT_EQ(r.run->publisher.retry_count, 3u);
  EXPECT_FALSE(r.run->publisher.retry_pending);
  const auto streams = r.server.streams();
  EXPECT_EQ(frame_number(decode_frames(streams[3].body)[0].body, 0, 8), 6u);
}

TEST(OutputStreamRetry, AStreamTheDaemonEndsIsOpenedAgain) {
  StreamRun r;
  r.watch();
  r.wait_attached(0);
  r.publish("one");
  r.server.wait_for([](const auto& s) { return s[0].body.find("one") != std::string::npos; });
  r.server.end_stream(0);
  r.wait_attached(1);
  r.publish("two");
  finish_output_stream(*r.run, 10s);
  const auto streams = r.server.streams();
  const std::vector<Frame> frames = decode_frames(streams[1].body);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frame_number(frames[0].body, 0, 8), 3u);
  EXPECT_EQ(frames[1].body, "two");
}

TEST(OutputStreamRetry, ARetryLeftByAnEndedWatchHoldsNothingBack) {
  StreamTimings timings = quick_timings();
  timings.retries = {1h, 1ms, 1ms, 1ms, 1ms};
  StreamRun r([](size_t) { return StreamAnswer{404}; }, timings);
  r.watch();
  r.wait_retry_pending();
  {
    std::lock_guard lock(r.run->publisher_mutex);
    r.run->publisher.enabled = false;  // what the end of a watch does
    ++r.run->publisher.generation;
  }
  // The next watch fails too, and its retries go on despite the hour-long one.
  r.watch();
  const auto streams = r.server.wait_for([](const auto& s) { return s.size() >= 4; });
  EXPECT_GE(streams.size(), 4u);
}

TEST(OutputStreamLimit, ADaemonThatFallsBehindIsCutAndRetried) {
  StreamTimings timings = quick_timings();
  timings.retries = {1h, 1h, 1h, 1h, 1h};
  StreamRun r([](size_t) { return StreamAnswer{200, "", false}; }, timings);
  r.watch();
  while (!r.attached()) std::this_thread::yield();
  const std::string piece(65536, 'x');
  bool cut = false;
  for (size_t sent = 0; !cut && sent < (512u << 20); sent += piece.size()) {
    r.publish(piece);
    std::lock_guard lock(r.run->publisher_mutex);
    cut = !r.run->publisher.subscriber;
  }
  ASSERT_TRUE(cut);
  std::lock_guard lock(r.run->publisher_mutex);
  EXPECT_TRUE(r.run->publisher.retry_pending);
  EXPECT_EQ(r.run->publisher.retry_count, 1u);
}

TEST(OutputStreamFinish, QueuedOutputReachesTheDaemonBeforeTheEnd) {
  StreamRun r;
  r.watch();
  r.wait_attached(0);
  std::string all;
  for (int i = 0; i < 64; ++i) {
    const std::string piece(65536, static_cast<char>('a' + i % 26));
    all += piece;
    r.publish(piece);
  }
  finish_output_stream(*r.run, 60s);
  const auto streams = r.server.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_TRUE(streams[0].complete);
  EXPECT_TRUE(data_of(decode_frames(streams[0].body)) == all);
  std::lock_guard lock(r.run->publisher_mutex);
  EXPECT_TRUE(r.run->publisher.closed);
  EXPECT_FALSE(r.run->publisher.subscriber);
}

// The run ends while a retired stream's successor is still opening: what
// was published since goes on a last stream, after its head.
TEST(OutputStreamFinish, OutputWaitingForTheNextStreamGoesOnALastOne) {
  StreamRun r([](size_t n) { return StreamAnswer{n == 1 ? 0 : 200}; });
  r.watch();
  r.wait_attached(0);
  r.publish("before");
  {
    std::lock_guard lock(r.run->publisher_mutex);
    retire_stream(*r.run, r.run->publisher.generation, r.attached_locked());
  }
  r.publish("after");
  r.server.wait_for([](const auto& s) { return s.size() >= 2; });  // the next one hangs
  finish_output_stream(*r.run, 10s);
  const auto streams = r.server.streams();
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_EQ(data_of(decode_frames(streams[0].body)), "before");
  const std::vector<Frame> last = decode_frames(streams[2].body);
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[0].kind, 'H');
  EXPECT_EQ(frame_number(last[0].body, 0, 8), 6u);
  EXPECT_EQ(last[1].body, "after");
  EXPECT_TRUE(streams[2].complete);
}

// Neither a daemon that never answers the head nor one that never answers
// the body holds the end up: the run's jobs can be joined after it.
TEST(OutputStreamFinish, IsBoundedWhenTheDaemonDoesNotAnswer) {
  for (StreamAnswer answer : {StreamAnswer{0}, StreamAnswer{200, "", true, false}}) {
    StreamRun r([&](size_t) { return answer; });
    r.watch();
    r.server.wait_for([](const auto& s) { return !s.empty(); });
    if (answer.status == 200) {
      while (!r.attached()) std::this_thread::yield();
      r.publish("last words");
    }
    finish_output_stream(*r.run, 20ms);
    r.run->waker.end();
    r.run->jobs.join_all();
  }
}

TEST(OutputStreamFinish, TheRunsEndCutsTheWaits) {
  StreamTimings timings = quick_timings();
  timings.retries = {1h, 1h, 1h, 1h, 1h};
  StreamRun r([](size_t) { return StreamAnswer{404}; }, timings);
  r.watch();
  r.wait_retry_pending();
  r.run->waker.end();
  r.run->jobs.join_all();  // the hour-long retry does not hold it
}

TEST(OutputStreamSlot, CloseTakesTheAttachedSocketOut) {
  StreamRun r;
  r.watch();
  r.wait_attached(0);
  {
    std::lock_guard lock(r.run->link.stream_mutex);
    EXPECT_TRUE(r.run->link.output_stream_fd);
  }
  close_output_stream(*r.run);
  {
    std::lock_guard lock(r.run->link.stream_mutex);
    EXPECT_FALSE(r.run->link.output_stream_fd);
  }
  r.server.wait_for([](const auto& s) { return s[0].closed; });
  EXPECT_TRUE(r.server.streams()[0].closed);
}

TEST(OutputStreamTestHook, OnlyItsVariableShortensTheRetire) {
  const struct {
    std::vector<std::pair<std::string, std::string>> env;
    int64_t retire_ms;
  } cases[] = {
      {{}, 240000},
      {{{"MOSSBANK_TEST_STREAM_RETIRE_MS", "300"}}, 300},
      {{{"MOSSBANK_TEST_STREAM_RETIRE_MS", "3x"}}, 240000},
      {{{"MOSSBANK_TEST_STREAM_RETIRE_MS", ""}}, 240000},
      {{{"mossbank_test_stream_retire_ms", "300"}}, 240000},
  };
  for (const auto& c : cases) {
    OutputStreams streams;
    apply_stream_test_hook(streams, c.env);
    EXPECT_EQ(streams.timings.retire.count(), c.retire_ms);
  }
}

}  // namespace
}  // namespace mossbank::run
