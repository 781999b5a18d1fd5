#include "run/link/village_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "run/session/pty_agent.h"
#include "run/testing/test_waits.h"

namespace mossbank::run {
namespace {

TEST(VillageInputWriter, WritesInTheOrderHandedOver) {
  testing::InputPipe agent;
  VillageInputWriter writer;
  std::string want;
  for (int i = 0; i < 200; ++i) {
    std::string piece =
        std::to_string(i) + std::string(static_cast<size_t>(i) * 37, 'a' + i % 26) + ";";
    want += piece;
    ASSERT_TRUE(writer.write(agent.input, piece));
  }
  writer.write(agent.input, "|");
  writer.drain();
  EXPECT_EQ(agent.take_until("|"), want);
}

TEST(VillageInputWriter, DroppedWhileTheAgentDoesNotReadCallsTheWriteOff) {
  // Nobody reads the pipe: the first write fills it and waits.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd read_end(fds[0]);
  auto master = std::make_shared<PtyMaster>();
  master->fd.reset(fds[1]);
  auto input = std::make_shared<AgentInput>(master);
  {
    VillageInputWriter writer;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer.write(input, std::string(1 << 20, 'x')));
    // Bounded: past kMaxPendingInput, input is dropped rather than kept.
    for (size_t queued = 0; queued <= kMaxPendingInput; queued += 1 << 20)
      ASSERT_TRUE(writer.write(input, std::string(1 << 20, 'y')));
  }  // returns although the write in progress never could finish
  ::fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
  char buffer[1 << 16];
  size_t total = 0;
  for (ssize_t n; (n = ::read(read_end.get(), buffer, sizeof buffer)) > 0;)
    total += static_cast<size_t>(n);
  EXPECT_LT(total, size_t{1} << 20);  // only what the pipe held of the first piece
}

}  // namespace
}  // namespace mossbank::run
