#include "daemon/http_client.h"

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "daemon/test_loopback_server.h"

namespace mossbank {
namespace {

using namespace std::chrono_literals;
using daemon::testing::LoopbackServer;
using daemon::testing::ServerConnection;

HttpRequest get_request(uint16_t port, std::string path = "/api/state",
                        std::chrono::nanoseconds timeout = 2s) {
  HttpRequest r;
  r.timeout = timeout;
  r.method = "GET";
  r.path = std::move(path);
  r.port = port;
  return r;
}

const HttpReply* reply_of(const HttpResponse& r) { return std::get_if<HttpReply>(&r); }

// Describes a response for failure messages.
std::string describe(const HttpResponse& r) {
  if (auto* ok = reply_of(r)) return "reply " + std::to_string(ok->status) + " [" + ok->body + "]";
  const auto& f = std::get<HttpFailure>(r);
  return std::string("failure timed_out=") + (f.timed_out ? "1" : "0") +
         " refused=" + (f.refused ? "1" : "0");
}

bool plain_failure(const HttpResponse& r) {
  auto* f = std::get_if<HttpFailure>(&r);
  return f != nullptr && !f->timed_out && !f->refused;
}

// A server that answers every request with `answer` and keeps the connection.
LoopbackServer answering(std::string answer) {
  return LoopbackServer([answer](ServerConnection& c, const std::string&) { c.write(answer); });
}

constexpr const char* kOk = "HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok";

TEST(RequestHead, BytesOnTheWire) {
  LoopbackServer server = answering(kOk);
  const std::string host = "host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";

  HttpRequest get = get_request(server.port(), "/api/inbox?unread=1");
  get.headers = {{"x-mossbank-token", "tok"}, {"X-Odd Name", "caf\xc3\xa9 \xc3\xbf"}};
  ASSERT_TRUE(reply_of(send_once(get)));

  PooledConnection pool;
  HttpRequest post = get_request(server.port(), "/api/inbox");
  post.method = "POST";
  post.headers = {{"x-mossbank-token", "tok"}, {"content-type", "application/json"}};
  post.body = "{\"a\":1}";
  ASSERT_TRUE(reply_of(send_pooled(pool, post)));

  HttpRequest empty = post;
  empty.body = std::string();
  empty.headers.clear();
  ASSERT_TRUE(reply_of(send_pooled(pool, empty)));

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].bytes, "GET /api/inbox?unread=1 HTTP/1.1\r\n" + host +
                                   "connection: close\r\naccept: */*\r\nx-mossbank-token: tok\r\n"
                                   "X-Odd Name: caf\xe9 \xff\r\n\r\n");
  EXPECT_EQ(requests[1].bytes, "POST /api/inbox HTTP/1.1\r\n" + host +
                                   "connection: keep-alive\r\naccept: */*\r\n"
                                   "x-mossbank-token: tok\r\ncontent-type: application/json\r\n"
                                   "content-length: 7\r\n\r\n{\"a\":1}");
  EXPECT_EQ(requests[2].bytes, "POST /api/inbox HTTP/1.1\r\n" + host +
                                   "connection: keep-alive\r\naccept: */*\r\n"
                                   "content-length: 0\r\n\r\n");
}

TEST(RequestHead, AsTheStreamsWriteIt) {
  EXPECT_EQ(request_head("GET", "/api/runs/r/commands", 4321,
                         {{"accept", "text/event-stream"}, {"x-mossbank-token", "caf\xc3\xa9"}}),
            "GET /api/runs/r/commands HTTP/1.1\r\nhost: 127.0.0.1:4321\r\n"
            "accept: text/event-stream\r\nx-mossbank-token: caf\xe9\r\n\r\n");
  EXPECT_EQ(request_head("POST", "/", 1, {{"x-mossbank-token", "a\nb"}}), std::nullopt);
}

TEST(StreamHead, ReadOffASocket) {
  struct Case {
    const char* what;
    std::string wire;
    std::optional<uint16_t> status;
    std::string rest;
  };
  const std::vector<Case> cases = {
      {"head and the body's start",
       "HTTP/1.1 200 OK\r\nX-A:  1 \r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", 200,
       "5\r\nhel"},
      {"a plus sign", "HTTP/1.1 +404 Not Found\r\n\r\n", 404, ""},
      {"no status", "garbage\r\n\r\n", std::nullopt, ""},
      {"the stream ends inside the head", "HTTP/1.1 200 OK\r\nX-A: 1\r\n", std::nullopt, ""},
      {"a head past the bound", "HTTP/1.1 200 OK\r\nX-A: " + std::string(kMaxStreamHead, 'a'),
       std::nullopt, ""},
  };
  for (const Case& c : cases) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    UniqueFd ours(fds[0]);
    UniqueFd theirs(fds[1]);
    std::thread writer([&] {
      send_all(theirs.get(), c.wire);
      ::shutdown(theirs.get(), SHUT_WR);
    });
    std::optional<StreamHead> head = read_response_head(ours.get());
    ::shutdown(ours.get(), SHUT_RDWR);
    writer.join();
    ASSERT_EQ(head.has_value(), c.status.has_value()) << c.what;
    if (!head) continue;
    EXPECT_EQ(head->head.status, *c.status) << c.what;
    EXPECT_EQ(head->rest, c.rest) << c.what;
    if (*c.status == 200) {
      EXPECT_EQ(head->head.headers, (HttpHeaders{{"x-a", "1"}, {"transfer-encoding", "chunked"}}))
          << c.what;
    }
  }
}

TEST(RequestHead, InvalidHeaderValuesFailWithoutConnecting) {
  LoopbackServer server = answering(kOk);
  const char* bad[] = {"a\nb", "a\rb", "\xc4\x80", "\xe2\x82\xac", "bad \xff utf-8"};
  for (const char* value : bad) {
    HttpRequest r = get_request(server.port());
    r.headers = {{"x-ok", "fine"}, {"x-bad", value}};
    EXPECT_FALSE(write_request_head(r, false).has_value()) << value;
    EXPECT_TRUE(plain_failure(send_once(r))) << value;
    PooledConnection pool;
    EXPECT_TRUE(plain_failure(send_pooled(pool, r))) << value;
  }
  HttpRequest nul = get_request(server.port());
  nul.headers = {{"x-bad", std::string("a\0b", 3)}};
  EXPECT_TRUE(plain_failure(send_once(nul)));
  EXPECT_EQ(server.connections(), 0);

  EXPECT_EQ(header_value_bytes("\xc3\xa9"), std::optional<std::string>("\xe9"));
  EXPECT_EQ(header_value_bytes(""), std::optional<std::string>(""));
}

enum class After { hold, close };

struct FramingCase {
  const char* name;
  std::string answer;
  After after;
  bool trickle;
  // Expected: a reply with this status and body, or (status 0) a failure
  // with both flags clear, which for a held connection also shows that the
  // reader did not wait for the deadline.
  uint16_t status;
  std::string body;
};

TEST(ResponseFraming, AgainstALoopbackServer) {
  const std::string chunked_head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const FramingCase cases[] = {
      {"content-length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", After::hold, false,
       200, "hello"},
      {"content-length, more bytes than announced",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", After::hold, false, 200, "he"},
      {"content-length 0", "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n", After::hold, false,
       201, ""},
      {"content-length trickled", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", After::hold,
       true, 200, "abc"},
      {"content-length with +", "HTTP/1.1 200 OK\r\nContent-Length: +3\r\n\r\nabc", After::hold,
       false, 200, "abc"},
      {"204 held open", "HTTP/1.1 204 No Content\r\n\r\n", After::hold, false, 204, ""},
      {"204 trickled, bytes after the blank line dropped", "HTTP/1.1 204 No Content\r\n\r\nstray",
       After::hold, true, 204, ""},
      {"304 with the resource's length", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n",
       After::hold, false, 304, ""},
      {"1xx ends at its blank line",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", After::hold,
       false, 100, ""},
      {"chunked with extension", chunked_head + "5;ext=1\r\nhello\r\n0\r\n\r\n", After::hold, false,
       200, "hello"},
      {"Chunked in any case, size with + and blanks",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n +2 \r\nde\r\n0\r\n\r\n",
       After::hold, false, 200, "abcde"},
      {"chunked trickled one byte per write",
       chunked_head + "4\r\nmoss\r\nA\r\n0123456789\r\n0\r\n\r\n", After::hold, true, 200,
       "moss0123456789"},
      {"chunked wins over content-length",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nhello\r\n0\r\n\r\n",
       After::hold, false, 200, "hello"},
      {"chunked with upper-case hex", chunked_head + "a\r\n0123456789\r\n0\r\n\r\n", After::hold,
       false, 200, "0123456789"},
      {"no framing, read to the end", "HTTP/1.1 200 OK\r\n\r\nall of it", After::close, false, 200,
       "all of it"},
      {"no framing trickled", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nslowly", After::close, true, 200,
       "slowly"},
      {"status with + and no reason", "HTTP/1.1 +202\r\nContent-Length: 1\r\n\r\nx", After::hold,
       false, 202, "x"},
      {"status after several blanks", "HTTP/1.1   404   Not Found\r\nContent-Length: 0\r\n\r\n",
       After::hold, false, 404, ""},
      // Failures.
      {"closed before the announced length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
       After::close, false, 0, ""},
      {"chunked cut short", chunked_head + "5\r\nhel", After::close, false, 0, ""},
      {"closed inside the head", "HTTP/1.1 200 OK\r\nContent-", After::close, false, 0, ""},
      {"closed before any byte", "", After::close, false, 0, ""},
      {"status not a number", "HTTP/1.1 abc OK\r\n\r\n", After::hold, false, 0, ""},
      {"status beyond 16 bits", "HTTP/1.1 65536 OK\r\n\r\n", After::hold, false, 0, ""},
      {"head not UTF-8", "HTTP/1.1 200 OK\r\nX-Bad: \xff\xfe\r\nContent-Length: 5\r\n\r\n",
       After::hold, false, 0, ""},
      {"chunk line that never parses", chunked_head + "zz\r\n", After::hold, false, 0, ""},
      {"chunk size of 17 digits", chunked_head + "00000000000000005\r\nhello\r\n0\r\n\r\n",
       After::hold, false, 0, ""},
      {"chunk size that would overflow", chunked_head + "ffffffffffffffff\r\nhello\r\n",
       After::hold, false, 0, ""},
      {"chunk data not closed by CR LF", chunked_head + "5\r\nhelloXY0\r\n\r\n", After::hold, false,
       0, ""},
      {"trailer after the last chunk", chunked_head + "0\r\nX-Trailer: 1\r\n\r\n", After::hold,
       false, 0, ""},
      {"content-length that would overflow",
       "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551615\r\n\r\nabc", After::hold, false, 0,
       ""},
      {"content-length beyond 64 bits",
       "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\nabc", After::hold, false, 0,
       ""},
      {"content-length over 64 MiB", "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nabc",
       After::hold, false, 0, ""},
      {"content-length not a number", "HTTP/1.1 200 OK\r\nContent-Length: five\r\n\r\nhello",
       After::hold, false, 0, ""},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server([&c](ServerConnection& conn, const std::string&) {
      if (c.trickle) {
        conn.trickle(c.answer, 1ms);
      } else {
        conn.write(c.answer);
      }
      if (c.after == After::close) conn.close();
    });
    HttpResponse r = send_once(get_request(server.port(), "/", 3s));
    if (c.status == 0) {
      EXPECT_TRUE(plain_failure(r)) << describe(r);
    } else {
      const HttpReply* reply = reply_of(r);
      ASSERT_NE(reply, nullptr) << describe(r);
      EXPECT_EQ(reply->status, c.status);
      EXPECT_EQ(reply->body, c.body);
    }
  }
}

TEST(ResponseFraming, HeadersLowerCasedTrimmedInOrder) {
  LoopbackServer server = answering(
      "HTTP/1.1 200 OK\r\n  X-One :  a b  \r\nno colon here\r\nX-Two:\r\nx-one: second\r\n"
      "Set: k=v:w\r\nContent-Length: 0\r\n\r\n");
  HttpResponse r = send_once(get_request(server.port()));
  const HttpReply* reply = reply_of(r);
  ASSERT_NE(reply, nullptr) << describe(r);
  HttpHeaders expected = {{"x-one", "a b"},
                          {"x-two", ""},
                          {"x-one", "second"},
                          {"set", "k=v:w"},
                          {"content-length", "0"}};
  EXPECT_EQ(reply->headers, expected);
  ASSERT_NE(find_header(reply->headers, "x-one"), nullptr);
  EXPECT_EQ(*find_header(reply->headers, "x-one"), "a b");
  EXPECT_EQ(find_header(reply->headers, "x-three"), nullptr);
}

TEST(ResponseFraming, AnswerOverTheLimitFails) {
  LoopbackServer server([](ServerConnection& conn, const std::string&) {
    conn.write("HTTP/1.1 200 OK\r\n\r\n");
    std::string block(1 << 20, 'x');
    for (size_t sent = 0; sent <= kMaxResponseBytes && !conn.closed(); sent += block.size())
      conn.write(block);
    conn.close();
  });
  // The deadline is far past the transfer, even under a sanitizer on a busy machine.
  HttpResponse r = send_once(get_request(server.port(), "/", 120s));
  EXPECT_TRUE(plain_failure(r)) << describe(r);
}

TEST(HttpFailures, RefusedAndTimedOut) {
  HttpResponse refused = send_once(get_request(daemon::testing::closed_port()));
  auto* f = std::get_if<HttpFailure>(&refused);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->refused);
  EXPECT_FALSE(f->timed_out);

  PooledConnection pool;
  refused = send_pooled(pool, get_request(daemon::testing::closed_port()));
  f = std::get_if<HttpFailure>(&refused);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->refused);

  // Accepts, reads the request, never answers.
  LoopbackServer silent([](ServerConnection&, const std::string&) {});
  // Answers a byte at a time until the client hangs up: one deadline covers
  // the whole read, so the client gives up while bytes still come. (The cap
  // only ends a client that would read on without one.)
  std::promise<bool> hung_up;
  LoopbackServer dribbling([&hung_up](ServerConnection& conn, const std::string&) {
    conn.write("HTTP/1.1 200 OK\r\n\r\n");
    for (int i = 0; i < 3000 && !conn.closed(); ++i) {
      conn.write("x");
      std::this_thread::sleep_for(20ms);
    }
    hung_up.set_value(conn.closed());
  });
  for (uint16_t port : {silent.port(), dribbling.port()}) {
    const auto timeout = 300ms;
    auto start = std::chrono::steady_clock::now();
    HttpResponse r = send_once(get_request(port, "/", timeout));
    auto took = std::chrono::steady_clock::now() - start;
    f = std::get_if<HttpFailure>(&r);
    ASSERT_NE(f, nullptr) << describe(r);
    EXPECT_TRUE(f->timed_out);
    EXPECT_FALSE(f->refused);
    EXPECT_GE(took, timeout);
  }
  EXPECT_TRUE(hung_up.get_future().get());

  EXPECT_TRUE(plain_failure(send_once(get_request(silent.port(), "/", 0s))));
  EXPECT_TRUE(plain_failure(send_pooled(pool, get_request(silent.port(), "/", 0s))));
}

// Counts the connections a series of pooled requests used.
class PoolTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::now();
  PooledConnection pool_{[this] { return now_; }};

  HttpResponse send(uint16_t port, std::string path = "/") {
    return send_pooled(pool_, get_request(port, std::move(path)));
  }
};

TEST_F(PoolTest, ReusedWithinTwoSecondsForTheSamePortOnly) {
  LoopbackServer a = answering(kOk);
  LoopbackServer b = answering(kOk);
  ASSERT_TRUE(reply_of(send(a.port())));
  now_ += 1900ms;
  ASSERT_TRUE(reply_of(send(a.port())));
  EXPECT_EQ(a.connections(), 1);
  now_ += 2100ms;
  ASSERT_TRUE(reply_of(send(a.port())));
  EXPECT_EQ(a.connections(), 2);
  ASSERT_TRUE(reply_of(send(b.port())));
  ASSERT_TRUE(reply_of(send(a.port())));
  EXPECT_EQ(a.connections(), 3);
  EXPECT_EQ(b.connections(), 1);
  for (const auto& r : a.requests())
    EXPECT_NE(r.bytes.find("\r\nconnection: keep-alive\r\n"), std::string::npos);
}

TEST_F(PoolTest, AnswersThatEndTheConnectionAreNotKept) {
  const std::string answers[] = {
      "HTTP/1.1 200 OK\r\nConnection:  Close \r\ncontent-length: 2\r\n\r\nok",
      "HTTP/1.0 200 OK\r\ncontent-length: 2\r\n\r\nok",
      "HTTP/1.1 100 Continue\r\n\r\n",
      // More bytes than the answer holds: they belong to no one.
      "HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nokHTTP/1.1 200 OK\r\ncontent-length: "
      "5\r\n\r\nstale",
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer);
    LoopbackServer server([&answer](ServerConnection& conn, const std::string& request) {
      conn.write(daemon::testing::request_path(request) == "/first" ? answer : kOk);
    });
    ASSERT_TRUE(reply_of(send(server.port(), "/first")));
    HttpResponse second = send(server.port(), "/second");
    const HttpReply* reply = reply_of(second);
    ASSERT_NE(reply, nullptr) << describe(second);
    EXPECT_EQ(reply->body, "ok");
    EXPECT_EQ(server.connections(), 2);
  }

  // Read to the end of the stream: the server closed it.
  LoopbackServer unframed([](ServerConnection& conn, const std::string&) {
    conn.write("HTTP/1.1 200 OK\r\n\r\nall");
    conn.close();
  });
  ASSERT_TRUE(reply_of(send(unframed.port())));
  ASSERT_TRUE(reply_of(send(unframed.port())));
  EXPECT_EQ(unframed.connections(), 2);
}

TEST_F(PoolTest, BytesArrivingAfterTheAnswerRetireTheKeptSocket) {
  // The stray bytes go out once the client has taken the first answer (so
  // they are not part of it), and the second request waits for them.
  std::mutex m;
  std::condition_variable cv;
  bool first_taken = false, stale_sent = false;
  LoopbackServer server([&](ServerConnection& conn, const std::string& request) {
    if (daemon::testing::request_path(request) == "/first") {
      conn.write(kOk);
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return first_taken; });
      conn.write("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nstale");
      stale_sent = true;
      cv.notify_all();
    } else {
      conn.write("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nfresh");
    }
  });
  HttpResponse first = send(server.port(), "/first");
  {
    std::lock_guard<std::mutex> lock(m);
    first_taken = true;
    cv.notify_all();
  }
  ASSERT_TRUE(reply_of(first)) << describe(first);
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return stale_sent; });
  }
  HttpResponse second = send(server.port(), "/second");
  ASSERT_TRUE(reply_of(second)) << describe(second);
  EXPECT_EQ(reply_of(second)->body, "fresh");
  EXPECT_EQ(server.connections(), 2);
}

TEST_F(PoolTest, AFailureEmptiesThePool) {
  LoopbackServer server([](ServerConnection& conn, const std::string& request) {
    if (daemon::testing::request_path(request) != "/bad")
      conn.write(kOk);
    else
      conn.write("HTTP/1.1 zzz\r\n\r\n");
  });
  ASSERT_TRUE(reply_of(send(server.port())));
  EXPECT_TRUE(plain_failure(send(server.port(), "/bad")));
  ASSERT_TRUE(reply_of(send(server.port())));
  EXPECT_EQ(server.connections(), 2);
}

TEST_F(PoolTest, BusyPoolSendsOnAFreshConnection) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  LoopbackServer server([&](ServerConnection& conn, const std::string& request) {
    if (daemon::testing::request_path(request) == "/slow") {
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return release; });
    }
    conn.write(kOk);
  });
  std::thread slow([&] { EXPECT_TRUE(reply_of(send(server.port(), "/slow"))); });
  while (server.requests().empty()) std::this_thread::sleep_for(1ms);
  HttpResponse quick = send(server.port(), "/quick");
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  slow.join();
  ASSERT_TRUE(reply_of(quick)) << describe(quick);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(daemon::testing::request_path(requests[1].bytes), "/quick");
  EXPECT_NE(requests[1].bytes.find("\r\nconnection: close\r\n"), std::string::npos);
  EXPECT_EQ(server.connections(), 2);
}

// Feeding an answer in pieces of any size gives what feeding it whole gives.
TEST(ResponseReader, SplitAnywhere) {
  const std::string answers[] = {
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x\r\nhello\r\n1\r\n!\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nmoss",
      "HTTP/1.1 204 No Content\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nq\r\n",
  };
  for (const std::string& answer : answers) {
    ResponseReader whole;
    auto whole_progress = whole.add(answer);
    HttpResponse expected = whole.take_response();
    for (size_t piece = 1; piece < answer.size(); ++piece) {
      ResponseReader reader;
      ResponseReader::Progress p = ResponseReader::Progress::need_more;
      for (size_t i = 0; i < answer.size() && p == ResponseReader::Progress::need_more; i += piece)
        p = reader.add(std::string_view(answer).substr(i, piece));
      EXPECT_EQ(p, whole_progress) << answer << " piece " << piece;
      EXPECT_EQ(describe(reader.take_response()), describe(expected)) << piece;
    }
  }
}

TEST(ResponseReader, Reusable) {
  struct Case {
    std::string answer;
    bool end_of_stream;
    bool reusable;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true},
      {"http/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true},
      {"HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n", false, true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", false, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok!", false, false},
      {"HTTP/1.1 101 Switching Protocols\r\n\r\n", false, false},
      {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", false, false},
      {"HTTP/1.1 200 OK\r\n\r\nall", true, false},
  };
  for (const Case& c : cases) {
    ResponseReader reader;
    auto p = reader.add(c.answer);
    if (c.end_of_stream) p = reader.end_of_stream();
    EXPECT_EQ(p, ResponseReader::Progress::complete) << c.answer;
    EXPECT_EQ(reader.reusable(), c.reusable) << c.answer;
  }
}

// The limit holds for the head as much as for the body, whether the answer
// has a body or not and whether its end arrives with the read that crosses
// the limit (whole) or after reads that stayed under it (16 KiB steps, as
// from the socket).
TEST(ResponseReader, LimitCountsTheHead) {
  using Progress = ResponseReader::Progress;
  struct Shape {
    std::string status_line;
    std::string headers;
    std::string body;     // as framed on the wire
    std::string decoded;  // as handed back
    // The answer with a pad header that brings it to `total` bytes (0: none).
    std::string answer(size_t total = 0) const {
      std::string a = status_line + "\r\n" + headers;
      if (total != 0) {
        a.reserve(total);
        a += "x-pad: ";
        a.append(total - a.size() - 4 - body.size(), 'p');
        a += "\r\n";
      }
      a += "\r\n";
      a += body;
      return a;
    }
  };
  const Shape shapes[] = {
      {"HTTP/1.1 200 OK", "content-length: 0\r\n", "", ""},
      {"HTTP/1.1 200 OK", "content-length: 2\r\n", "ok", "ok"},
      {"HTTP/1.1 100 Continue", "", "", ""},
      {"HTTP/1.1 204 No Content", "", "", ""},
      {"HTTP/1.1 304 Not Modified", "", "", ""},
      {"HTTP/1.1 200 OK", "transfer-encoding: chunked\r\n", "2\r\nok\r\n0\r\n\r\n", "ok"},
  };
  auto check = [](const Shape& shape, const std::string& answer, bool in_steps) {
    const bool over = answer.size() > kMaxResponseBytes;
    SCOPED_TRACE(shape.status_line + " " + ::testing::PrintToString(shape.headers) + " size " +
                 std::to_string(answer.size()) + (in_steps ? " in steps" : " whole"));
    ResponseReader reader;
    Progress p = Progress::need_more;
    const size_t step = in_steps ? 16 << 10 : answer.size();
    for (size_t i = 0; i < answer.size() && p == Progress::need_more; i += step)
      p = reader.add(std::string_view(answer).substr(i, step));
    EXPECT_EQ(int(p), int(over ? Progress::failed : Progress::complete));
    HttpResponse r = reader.take_response();
    if (over) {
      EXPECT_TRUE(plain_failure(r)) << describe(r);
    } else {
      ASSERT_NE(reply_of(r), nullptr);
      EXPECT_EQ(reply_of(r)->body, shape.decoded);
    }
  };
  for (const Shape& shape : shapes) {
    for (size_t total : {size_t(0), kMaxResponseBytes + 1}) {
      const std::string answer = shape.answer(total);
      check(shape, answer, false);
      check(shape, answer, true);
    }
  }
  // Exactly at the limit still passes, with or without a body.
  check(shapes[3], shapes[3].answer(kMaxResponseBytes), false);
  check(shapes[5], shapes[5].answer(kMaxResponseBytes), false);
}

TEST(ClassifyIoError, Flags) {
  EXPECT_TRUE(classify_io_error(EAGAIN).timed_out);
  EXPECT_TRUE(classify_io_error(EWOULDBLOCK).timed_out);
  EXPECT_TRUE(classify_io_error(ETIMEDOUT).timed_out);
  EXPECT_TRUE(classify_io_error(ECONNREFUSED).refused);
  EXPECT_FALSE(classify_io_error(ECONNREFUSED).timed_out);
  HttpFailure other = classify_io_error(ECONNRESET);
  EXPECT_FALSE(other.timed_out || other.refused);
}

}  // namespace
}  // namespace mossbank
