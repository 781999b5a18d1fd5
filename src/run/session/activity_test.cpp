#include "run/session/activity.h"

#include <gtest/gtest.h>

namespace mossbank::run {
namespace {

// Times are ms since the epoch; the scenarios start well after it.
constexpr double T = 1'000'000;

TEST(Activity, OutputRightAfterTypingIsItsEcho) {
  ActivityRecord r;
  note_input(r, T);
  // 300 bytes within 150 ms of a key: no report.
  EXPECT_EQ(decide_activity(r, T + 10, 100), std::nullopt);
  EXPECT_EQ(decide_activity(r, T + 60, 100), std::nullopt);
  EXPECT_EQ(decide_activity(r, T + 150, 100), std::nullopt);
  EXPECT_FALSE(r.working);
}

TEST(Activity, WorkingOnceTheLastSecondReaches256Bytes) {
  ActivityRecord r;
  note_input(r, T - 2000);
  EXPECT_EQ(decide_activity(r, T, 150), std::nullopt);
  auto change = decide_activity(r, T + 500, 150);
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->working);
  EXPECT_FALSE(change->asked);
  // Reported once.
  EXPECT_EQ(decide_activity(r, T + 600, 500), std::nullopt);
}

TEST(Activity, SamplesOlderThanASecondDoNotCount) {
  ActivityRecord r;
  EXPECT_EQ(decide_activity(r, T, 200), std::nullopt);
  EXPECT_EQ(decide_activity(r, T + 1000, 200), std::nullopt);
  EXPECT_TRUE(decide_activity(r, T + 1500, 100));
}

// The wall clock stepped back between pieces: the second's sum still leaves
// out exactly the pieces a second old or more.
TEST(Activity, ASecondsSumAfterTheClockSteppedBack) {
  ActivityRecord r;
  EXPECT_EQ(decide_activity(r, T + 1000, 200), std::nullopt);
  EXPECT_EQ(decide_activity(r, T, 40), std::nullopt);         // back by a second
  EXPECT_EQ(decide_activity(r, T + 1500, 30), std::nullopt);  // 200 + 30: T's 40 is old
  EXPECT_TRUE(decide_activity(r, T + 1600, 30));              // 200 + 30 + 30
}

TEST(Activity, ResizeRedrawIsQuiet) {
  ActivityRecord r;
  r.last_resize_at = T;
  EXPECT_EQ(decide_activity(r, T + 100, 5000), std::nullopt);
  EXPECT_TRUE(decide_activity(r, T + 1100, 5000));
}

TEST(Activity, AskedWhenTheVillagesTalkStartedIt) {
  struct Case {
    double talk_at;
    bool asked;
  };
  for (const Case& c : {Case{T - 60'000, true}, Case{T - 60'001, false}}) {
    ActivityRecord r;
    r.village_talk = true;
    r.village_talk_at = c.talk_at;
    auto change = decide_activity(r, T, 300);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->asked, c.asked) << c.talk_at;
  }
}

TEST(Activity, TalkWhileWorkingMakesTheTurnAskedOnce) {
  ActivityRecord idle;
  EXPECT_EQ(note_village_talk(idle, T), std::nullopt);  // asked comes with the work it starts
  EXPECT_TRUE(idle.village_talk);
  EXPECT_EQ(idle.echo_state, 2);

  ActivityRecord busy;
  ASSERT_TRUE(decide_activity(busy, T, 300));
  ASSERT_FALSE(busy.asked);
  auto change = note_village_talk(busy, T + 100);
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->working);
  EXPECT_TRUE(change->asked);
  EXPECT_TRUE(busy.asked);
  EXPECT_EQ(note_village_talk(busy, T + 200), std::nullopt);  // no change, no second report
}

TEST(Activity, EchoGoesOnWhilePiecesFollowClosely) {
  ActivityRecord r;
  note_input(r, T);
  EXPECT_EQ(decide_activity(r, T + 300, 100), std::nullopt);  // the echo starts
  EXPECT_EQ(r.echo_state, 1);
  EXPECT_EQ(decide_activity(r, T + 320, 300), std::nullopt);  // 20 ms later: still echo
  EXPECT_EQ(r.echo_state, 1);
  // 100 ms later the echo is over and the piece counts.
  EXPECT_TRUE(decide_activity(r, T + 420, 300));
  EXPECT_EQ(r.echo_state, 2);
}

TEST(Activity, InputDatedAfterThePieceSkipsTheEchoRules) {
  ActivityRecord r;
  note_input(r, T + 50);
  EXPECT_TRUE(decide_activity(r, T, 300));
}

TEST(Activity, LapsesAfterQuiet) {
  ActivityRecord r;
  ASSERT_TRUE(decide_activity(r, T, 300));
  EXPECT_EQ(lapse_activity(r, T + 2499), std::nullopt);
  auto change = lapse_activity(r, T + 2500);
  ASSERT_TRUE(change);
  EXPECT_FALSE(change->working);
  EXPECT_FALSE(r.working);
  EXPECT_EQ(lapse_activity(r, T + 9000), std::nullopt);
}

TEST(Activity, BodyKeysInOrderAndKept) {
  ActivityRecord r;
  JsonValue body = activity_body(r, ActivityChange{true, false});
  EXPECT_EQ(to_js_json(body), R"({"working":true,"asked":false})");
  ASSERT_TRUE(r.last_posted);
  EXPECT_EQ(*r.last_posted, body);
}

}  // namespace
}  // namespace mossbank::run
