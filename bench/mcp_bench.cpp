// MCP serve loop throughput: 10,000 ping lines piped in at once, every one
// answered; then one batch of 1,000 pings, answered in element order.
//
//   build/bench/mcp_bench [lines] [batch size]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "base/version.h"
#include "daemon/daemon_client.h"
#include "mcp/mcp.h"

using namespace mossbank;
using Clock = std::chrono::steady_clock;

namespace {

// Serves `input` through a pair of pipes and returns the whole output.
std::string serve(const std::string& input) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) std::abort();
  // No config.json: the daemon is never asked for pings.
  auto context =
      mcp::make_server_context(kVersion, {}, make_daemon_client("/nonexistent-mossbank-home"));
  auto writer = std::make_shared<mcp::MessageWriter>(out[1]);
  std::thread server([&] {
    mcp::serve_mcp(context, writer, in[0]);
    ::close(out[1]);
  });
  std::thread feeder([&] {
    const char* p = input.data();
    size_t left = input.size();
    while (left > 0) {
      ssize_t n = ::write(in[1], p, left);
      if (n <= 0) std::abort();
      p += n;
      left -= size_t(n);
    }
    ::close(in[1]);
  });
  std::string output;
  char buf[65536];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) output.append(buf, size_t(n));
  feeder.join();
  server.join();
  ::close(in[0]);
  ::close(out[0]);
  return output;
}

std::string ping(size_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"ping"})";
}

std::string pong(size_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":{}})";
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  size_t batch = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000;

  std::string input;
  for (size_t i = 0; i < lines; ++i) input += ping(i) + "\n";
  auto start = Clock::now();
  std::string output = serve(input);
  double took = seconds_since(start);
  std::set<std::string> answers;
  for (size_t at = 0, nl; (nl = output.find('\n', at)) != std::string::npos; at = nl + 1)
    answers.insert(output.substr(at, nl - at));
  size_t answered = 0;
  for (size_t i = 0; i < lines; ++i) answered += answers.count(pong(i));
  std::printf("ping lines: %zu sent, %zu answered in %.3f s: %.0f lines/s\n", lines, answered, took,
              double(lines) / took);

  std::string request = "[";
  std::string expected = "[";
  for (size_t i = 0; i < batch; ++i) {
    request += (i ? "," : "") + ping(i);
    expected += (i ? "," : "") + pong(i);
  }
  start = Clock::now();
  output = serve(request + "]\n");
  took = seconds_since(start);
  bool in_order = output == expected + "]\n";
  std::printf("batch of %zu: answered in %.3f s (%.0f elements/s), %s\n", batch, took,
              double(batch) / took, in_order ? "in element order" : "NOT in element order");
  return answered == lines && in_order ? 0 : 1;
}
