#include "run/session/watches.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <utility>

#include <gtest/gtest.h>

#include "base/test_threads.h"
#include "run/testing/test_waits.h"

#include "base/unique_fd.h"

namespace mossbank::run {
namespace {

using base::testing::BoundedThread;

class RecordingAgent final : public AgentProcess {
 public:
  std::optional<uint32_t> process_id() const override { return 7; }
  void resize(uint16_t, uint16_t) override {}
  Status kill(bool) override { return ok_status(); }
  Status interrupt() override { return ok_status(); }
  int32_t wait() override { return 0; }
  Status kill_group(bool force) override {
    std::lock_guard lock(mutex);
    groups.push_back(force);
    return ok_status();
  }
  std::mutex mutex;
  std::vector<bool> groups;
};

constexpr WatchTimes kQuick{std::chrono::milliseconds(1), std::chrono::milliseconds(1),
                            std::chrono::milliseconds(1), std::chrono::seconds(0),
                            std::chrono::seconds(1800)};

TEST(DaemonPidWatch, TermThenKillOnceTheVillageIsGone) {
  RunShared run(20, 4, "", "r");
  auto agent = std::make_shared<RecordingAgent>();
  run.agent = agent;
  int looks = 0;
  watch_daemon_pid(
      run, 99, [&](uint32_t pid) { return pid == 99 && ++looks == 3; }, kQuick);
  EXPECT_EQ(looks, 3);
  EXPECT_EQ(agent->groups, (std::vector<bool>{false, true}));
}

TEST(DaemonPidWatch, LeavesWhenTheRunEnds) {
  RunShared run(20, 4, "", "r");
  auto agent = std::make_shared<RecordingAgent>();
  run.agent = agent;
  run.waker.end();
  watch_daemon_pid(run, 99, [](uint32_t) { return false; });  // the real 1 s poll: woken at once
  EXPECT_TRUE(agent->groups.empty());
}

TEST(AppBundle, FoundWalkingUp) {
  struct Case {
    const char* executable;
    std::optional<std::string> bundle;
  };
  const Case cases[] = {
      {"/Applications/Mossbank.app/Contents/Resources/cli/bin/mossbank",
       "/Applications/Mossbank.app"},
      {"/usr/local/bin/mossbank", std::nullopt},
      {"/private/var/AppTranslocation/X/d/Mossbank.app/Contents/MacOS/m", std::nullopt},
      // Only a whole component of the bundle's own path counts.
      {"/private/var/AppTranslocationX/A.app/Contents/MacOS/m",
       "/private/var/AppTranslocationX/A.app"},
      {"/tmp/MyAppTranslocation/A.app/m", "/tmp/MyAppTranslocation/A.app"},
      {"/Apps/A.app/Contents/AppTranslocation/m", "/Apps/A.app"},
      {"/Apps/.app/m", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(app_bundle_of(c.executable), c.bundle) << c.executable;
}

class BundleWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/mossbank-bundle-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    bundle_ = root_ + "/Mossbank.app";
    program_ = bundle_ + "/Contents/Resources/cli/bin/mossbank";
    ASSERT_EQ(
        std::system(
            ("mkdir -p " + bundle_ + "/Contents/Resources/cli/bin && touch " + program_).c_str()),
        0);
  }
  void TearDown() override { std::system(("rm -rf " + root_).c_str()); }

  static std::string parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

  std::string root_, bundle_, program_;
};

TEST_F(BundleWatch, DetachesWhenTheProgramIsGone) {
  RunShared run(20, 4, "", "r");
  ASSERT_EQ(unlink(program_.c_str()), 0);
  std::atomic<int> detached{0};
  watch_bundle_update(
      run, bundle_, [&](RunShared&) { ++detached; }, kQuick);
  EXPECT_EQ(detached.load(), 1);
}

TEST_F(BundleWatch, ABundleUnderANameLikeTranslocationIsWatched) {
  const std::string dir = root_ + "/AppTranslocationX";
  const std::string program = dir + "/A.app/Contents/Resources/cli/bin/mossbank";
  ASSERT_EQ(std::system(("mkdir -p " + parent(program) + " && touch " + program).c_str()), 0);
  std::optional<std::string> bundle = app_bundle_of(program);
  ASSERT_EQ(bundle, dir + "/A.app");
  RunShared run(20, 4, "", "r");
  ASSERT_EQ(unlink(program.c_str()), 0);
  std::atomic<int> detached{0};
  watch_bundle_update(
      run, *bundle, [&](RunShared&) { ++detached; }, kQuick);
  EXPECT_EQ(detached.load(), 1);
}

TEST_F(BundleWatch, AFreshUpdateMarkerHoldsTheDetachBack) {
  RunShared run(20, 4, "", "r");
  std::ofstream(bundle_ + "/bundle-update-in-progress") << "";
  ASSERT_EQ(unlink(program_.c_str()), 0);
  std::atomic<int> detached{0};
  BoundedThread watch([&] {
    watch_bundle_update(
        run, bundle_, [&](RunShared&) { ++detached; }, kQuick);
  });
  // Many passes see the marker; then the run ends.
  for (int i = 0; i < 50; ++i) usleep(1000);
  run.waker.end();
  EXPECT_TRUE(watch.join_within(testing::kPatience));
  EXPECT_EQ(detached.load(), 0);
}

TEST_F(BundleWatch, AnInstalledProgramIsWell) {
  RunShared run(20, 4, "", "r");
  std::atomic<int> detached{0};
  BoundedThread watch([&] {
    watch_bundle_update(
        run, bundle_, [&](RunShared&) { ++detached; }, kQuick);
  });
  for (int i = 0; i < 50; ++i) usleep(1000);
  run.stopping.store(true);
  run.waker.end();
  EXPECT_TRUE(watch.join_within(testing::kPatience));
  EXPECT_EQ(detached.load(), 0);
}

TEST(Detach, ClosesTheLinkAndDropsTheRoute) {
  RunShared run(20, 4, "", "r");
  run.link.set_route(Route{1234, "t"});
  // The link reads its command stream on one end; the slot holds a copy.
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd stream(fds[0]);
  UniqueFd daemon(fds[1]);
  run.link.command_stream_fd.reset(::dup(stream.get()));
  detach_from_village(run);
  EXPECT_TRUE(run.link.closed.load());
  EXPECT_TRUE(run.link.stop.load());
  EXPECT_EQ(run.link.copy_route(), std::nullopt);
  // The link's read ends now, not at the daemon's next ping.
  pollfd ready{stream.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&ready, 1, 5000), 1);
  char byte;
  EXPECT_EQ(::recv(stream.get(), &byte, 1, 0), 0);
  run.link.command_stream_fd.reset();
}

}  // namespace
}  // namespace mossbank::run
