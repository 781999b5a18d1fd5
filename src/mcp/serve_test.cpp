#include "mcp/serve.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <set>
#include <thread>

#include "base/test_threads.h"
#include "mcp/mcp.h"
#include "mcp/test_daemon.h"

namespace mossbank::mcp {
namespace {

using namespace std::chrono_literals;
using testing::answer;
using testing::FakeDaemon;
using testing::json;

TEST(LineCutter, Terminators) {
  struct Case {
    std::vector<std::string> feeds;  // the last one arrives with the end of input
    std::vector<std::string> lines;
  } cases[] = {
      {{"a\r\nb\n"}, {"a", "b"}},
      {{"a\rb\r\n\nc"}, {"a", "b", "", "c"}},
      {{"a\r", "\nb\n"}, {"a", "b"}},
      {{"a\r", "b\n"}, {"a", "b"}},
      {{"a\r"}, {"a"}},
      {{"a\r", ""}, {"a"}},
      {{"abc"}, {"abc"}},
      {{"ab", "c\nd", "e"}, {"abc", "de"}},
      {{"\r\r\n\n"}, {"", "", ""}},
      {{""}, {}},
      {{"x\n", ""}, {"x"}},
  };
  for (const Case& c : cases) {
    LineCutter cutter;
    std::vector<std::string> got;
    for (size_t i = 0; i < c.feeds.size(); ++i) {
      for (std::string& line : cutter.feed(c.feeds[i], i + 1 == c.feeds.size()))
        got.push_back(line);
    }
    EXPECT_EQ(got, c.lines) << ::testing::PrintToString(c.feeds);
  }
}

TEST(LineCutter, CarriageReturnWaitsForTheNextRead) {
  LineCutter cutter;
  EXPECT_EQ(cutter.feed("one\r", false), std::vector<std::string>{});
  EXPECT_EQ(cutter.feed("\ntwo\r", false), std::vector<std::string>{"one"});
  EXPECT_EQ(cutter.feed("three", false), std::vector<std::string>{"two"});
  EXPECT_EQ(cutter.feed("", true), std::vector<std::string>{"three"});
}

TEST(LineCutter, LongLineAcrossManyReads) {
  LineCutter cutter;
  std::string piece(kReadSize, 'x');
  for (int i = 0; i < 160; ++i) EXPECT_TRUE(cutter.feed(piece, false).empty());
  std::vector<std::string> lines = cutter.feed("\nnext\n", false);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 160 * kReadSize);
  EXPECT_EQ(lines[1], "next");
}

int make_pipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC); }

// serve_mcp on a pair of pipes, the test writing its input and reading its
// output line by line.
class Session {
 public:
  explicit Session(std::shared_ptr<DaemonClient> daemon) {
    int in[2], out[2];
    if (make_pipe(in) != 0 || make_pipe(out) != 0) std::abort();
    in_write_ = in[1];
    out_read_ = out[0];
    auto writer = std::make_shared<MessageWriter>(out[1]);
    server_ = base::testing::BoundedThread(
        [context = testing::context_with(std::move(daemon)), writer, in0 = in[0], out1 = out[1]] {
          serve_mcp(context, writer, in0);
          ::close(in0);
          ::close(out1);
        });
  }
  ~Session() {
    close_input();
    EXPECT_TRUE(server_.join_within(std::chrono::seconds(20)))
        << "serve_mcp did not end at the end of its input";
    ::close(out_read_);
  }

  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(in_write_, bytes.data(), bytes.size());
      ASSERT_GT(n, 0);
      bytes.remove_prefix(size_t(n));
    }
  }
  void close_input() {
    if (in_write_ >= 0) ::close(in_write_);
    in_write_ = -1;
  }

  // The next output line (without "\n"), or "<end>" when the output has
  // closed. It waits as long as that takes: how long a loaded machine needs
  // is not for the test to guess, and a missing answer hangs until the test
  // runner's time-out.
  std::string line() {
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return l;
      }
      char chunk[65536];
      ssize_t n = ::read(out_read_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return "<end>";
      buffer_.append(chunk, size_t(n));
    }
  }

  // Closes the input and gives every line still to come.
  std::vector<std::string> rest() {
    close_input();
    std::vector<std::string> lines;
    for (std::string l = line(); l != "<end>"; l = line()) lines.push_back(l);
    return lines;
  }

 private:
  int in_write_ = -1;
  int out_read_ = -1;
  base::testing::BoundedThread server_;
  std::string buffer_;
};

const char* const kPong1 = R"({"jsonrpc":"2.0","id":1,"result":{}})";
const char* const kParseError =
    R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}})";

TEST(Serve, LinesAndBadInput) {
  Session s(std::make_shared<FakeDaemon>());
  s.send("{\n");
  EXPECT_EQ(s.line(), kParseError);
  s.send(" \t \r\n\n\r");
  s.send(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
         "\r\n");
  EXPECT_EQ(s.line(), kPong1);
  s.send("not json\n");
  EXPECT_EQ(s.line(), kParseError);
  s.send(R"({"jsonrpc":"2.0","method":"ping"})"
         "\n");  // a notification
  s.send(
      "\xef\xbb\xbf"
      R"({"jsonrpc":"2.0","id":2,"method":"ping"})"
      "\n");  // U+FEFF is trimmed
  EXPECT_EQ(s.line(), R"({"jsonrpc":"2.0","id":2,"result":{}})");
  s.send("{\"jsonrpc\":\"2.0\",\"id\":\"a\xff\xc3\",\"method\":\"ping\"}\n");
  EXPECT_EQ(s.line(), "{\"jsonrpc\":\"2.0\",\"id\":\"a\xef\xbf\xbd\xef\xbf\xbd\",\"result\":{}}");
  s.send(std::string(200000, '[') + std::string(200000, ']') + "\n");
  EXPECT_EQ(s.line(), kParseError);
  s.send(R"({"jsonrpc":"2.0","id":1,"method":"ping"})");  // no terminator: ends with the input
  EXPECT_EQ(s.rest(), std::vector<std::string>{kPong1});
}

TEST(Serve, LoneCarriageReturnAtTheEnd) {
  Session s(std::make_shared<FakeDaemon>());
  s.send(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
         "\r");
  EXPECT_EQ(s.rest(), std::vector<std::string>{kPong1});
}

TEST(Serve, TenMegabyteLine) {
  Session s(std::make_shared<FakeDaemon>());
  std::thread feeder([&] {
    s.send(std::string(10 << 20, 'x') + "\n");
    s.send(std::string(R"({"jsonrpc":"2.0","id":"big","method":"ping","params":{"pad":")") +
           std::string(10 << 20, 'y') + "\"}}\n");
    s.send(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
           "\n");
  });
  // The reading thread writes the parse error before it starts the next
  // worker; the two workers' answers may come in either order.
  EXPECT_EQ(s.line(), kParseError);
  std::multiset<std::string> answers;
  for (int i = 0; i < 2; ++i) answers.insert(s.line());
  EXPECT_EQ(answers,
            (std::multiset<std::string>{R"({"jsonrpc":"2.0","id":"big","result":{}})", kPong1}));
  feeder.join();
}

TEST(Serve, Batches) {
  Session s(std::make_shared<FakeDaemon>());
  std::string batch = "[";
  std::string expected = "[";
  for (int i = 0; i < 40; ++i) {
    if (i) batch += ",";
    if (i % 5 == 4) {
      batch += R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
      continue;
    }
    if (i % 7 == 3) {
      batch += "5";
    } else {
      batch += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"ping"})";
    }
    if (expected.size() > 1) expected += ",";
    expected +=
        i % 7 == 3
            ? R"({"jsonrpc":"2.0","id":null,"error":{"code":-32600,"message":"Invalid request"}})"
            : R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"result":{}})";
  }
  s.send(batch + "]\n");
  EXPECT_EQ(s.line(), expected + "]");

  s.send("[]\n");
  s.send(R"([{"jsonrpc":"2.0","method":"ping"},{"jsonrpc":"2.0","method":"notifications/x"}])"
         "\n");
  s.send(R"([1,"x",null,[]])"
         "\n");
  const std::string invalid =
      R"({"jsonrpc":"2.0","id":null,"error":{"code":-32600,"message":"Invalid request"}})";
  EXPECT_EQ(s.line(), "[" + invalid + "," + invalid + "," + invalid + "," + invalid + "]");
  EXPECT_EQ(s.rest(), std::vector<std::string>{});
}

// Records when each call (by its "n" argument) starts and ends; a call runs
// until the test releases it.
class Gate {
 public:
  DaemonAnswer call(const testing::DaemonCall& c) {
    int n = (*c.body)["args"]["n"].get<int>();
    std::unique_lock lock(mutex_);
    in_flight_.insert(n);
    most_ = std::max(most_, in_flight_.size());
    events_.push_back("start " + std::to_string(n));
    cv_.notify_all();
    cv_.wait(lock, [&] { return released_.count(n) || release_all_; });
    in_flight_.erase(n);
    events_.push_back("end " + std::to_string(n));
    cv_.notify_all();
    return answer(200, json(R"({"result":{"content":[{"type":"text","text":"ok"}]}})"));
  }
  void release(int n) {
    std::lock_guard lock(mutex_);
    released_.insert(n);
    cv_.notify_all();
  }
  void release_all() {
    std::lock_guard lock(mutex_);
    release_all_ = true;
    cv_.notify_all();
  }
  std::set<int> in_flight() {
    std::lock_guard lock(mutex_);
    return in_flight_;
  }
  // Waits, for as long as it takes, until the calls in flight satisfy `pred`.
  void wait_for(const std::function<bool(const std::set<int>&)>& pred) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return pred(in_flight_); });
  }
  size_t most() {
    std::lock_guard lock(mutex_);
    return most_;
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::set<int> in_flight_, released_;
  bool release_all_ = false;
  size_t most_ = 0;
  std::vector<std::string> events_;
};

std::string send_call(int n) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(n) +
         R"(,"method":"tools/call","params":{"name":"mossbank_send","arguments":{"n":)" +
         std::to_string(n) + "}}}";
}

std::set<int> range(int from, int to) {
  std::set<int> out;
  for (int i = from; i < to; ++i) out.insert(i);
  return out;
}

TEST(Serve, AtMostSixteenWorkersAndTheOldestIsWaitedFor) {
  auto gate = std::make_shared<Gate>();
  Session s(
      std::make_shared<FakeDaemon>([gate](const testing::DaemonCall& c) { return gate->call(c); }));
  std::string lines;
  for (int i = 0; i < 20; ++i) lines += send_call(i) + "\n";
  s.send(lines);

  gate->wait_for([](const std::set<int>& f) { return f.size() == 16; });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gate->in_flight(), range(0, 16));

  gate->release(1);  // a younger one ends: the loop still waits for the oldest
  gate->wait_for([](const std::set<int>& f) { return f.size() == 15; });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gate->in_flight().size(), 15u);
  EXPECT_EQ(s.line(),
            R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"type":"text","text":"ok"}]}})");

  gate->release(0);
  gate->wait_for([](const std::set<int>& f) { return f.count(17) == 1; });
  std::this_thread::sleep_for(200ms);
  std::set<int> expected = range(2, 18);
  EXPECT_EQ(gate->in_flight(), expected);

  gate->release_all();
  std::set<std::string> answers;
  for (int i = 0; i < 19; ++i) answers.insert(s.line());
  EXPECT_EQ(answers.size(), 19u);
  EXPECT_EQ(answers.count("<end>"), 0u);
  EXPECT_LE(gate->most(), 16u);
  EXPECT_EQ(s.rest(), std::vector<std::string>{});
}

TEST(Serve, BatchChunksRunOneAfterAnother) {
  auto gate = std::make_shared<Gate>();
  Session s(
      std::make_shared<FakeDaemon>([gate](const testing::DaemonCall& c) { return gate->call(c); }));
  std::string batch = "[";
  for (int i = 0; i < 40; ++i) batch += (i ? "," : "") + send_call(i);
  s.send(batch + "]\n");

  gate->wait_for([](const std::set<int>& f) { return f.size() == 16; });
  EXPECT_EQ(gate->in_flight(), range(0, 16));
  for (int i = 1; i < 16; ++i) gate->release(i);
  gate->wait_for([](const std::set<int>& f) { return f == std::set<int>{0}; });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gate->in_flight(), std::set<int>{0});  // the next chunk waits for the whole chunk
  gate->release(0);
  gate->wait_for([](const std::set<int>& f) { return f == range(16, 32); });
  gate->release_all();

  std::optional<JsonValue> answers = parse_json(s.line());
  ASSERT_TRUE(answers && answers->is_array());
  ASSERT_EQ(answers->size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ((*answers)[size_t(i)]["id"], i);
  EXPECT_LE(gate->most(), 16u);
}

TEST(Serve, AnswersStillComeAfterTheInputEnds) {
  auto gate = std::make_shared<Gate>();
  Session s(
      std::make_shared<FakeDaemon>([gate](const testing::DaemonCall& c) { return gate->call(c); }));
  s.send(send_call(1) + "\n" + send_call(2) + "\n");
  gate->wait_for([](const std::set<int>& f) { return f.size() == 2; });
  s.close_input();
  std::this_thread::sleep_for(100ms);
  gate->release_all();
  EXPECT_EQ(s.rest().size(), 2u);
}

TEST(MessageWriter, BrokenPipe) {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(make_pipe(fds), 0);
  ::close(fds[0]);
  int broken = 0;
  MessageWriter writer(fds[1], [&] { ++broken; });
  writer.write_line(json("{}"));
  EXPECT_EQ(broken, 1);
  ::close(fds[1]);
  EXPECT_EQ(kEpipeText.size(), 69u);
}

}  // namespace
}  // namespace mossbank::mcp
