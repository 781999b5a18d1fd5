#include "run/session/hand_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

using screen::KeyClock;

class HandInputTest : public ::testing::Test {
 protected:
  HandInputTest() : run(80, 24, "/nonexistent", "run-1") { run.screen.agent = "claude"; }

  // The agent draws a captured screen from scratch.
  void show(const std::string& name) {
    std::lock_guard lock(run.screen_mutex);
    run.screen.terminal = terminal_new(80, 24);
    terminal_process(run.screen.terminal, testing::agent_capture("claude/" + name + ".raw"));
    run.screen_changed_locked();
  }

  std::string user(std::string_view bytes) { return filter_user_keys(run, bytes, now).bytes; }
  std::string village(std::string_view bytes) {
    return filter_village_input(run, bytes, now).bytes;
  }

  void set_last_input(KeyClock::time_point at) {
    std::lock_guard lock(run.key_filter_mutex);
    run.key_filter.last_input = at;
  }

  RunShared run;
  KeyClock::time_point now = KeyClock::now();
};

TEST_F(HandInputTest, TheVillagesInputLeavesTheUsersHeldKeysAlone) {
  show("idle-80x24");
  // The user's terminal answer cut short waits for its end...
  EXPECT_EQ(user("a\x1b[12"), "a");
  // ... while the village types, and is still removed whole afterwards.
  EXPECT_EQ(village("x\x1b[I"), "x");
  EXPECT_EQ(user(";40R"), "");

  // The village's own unfinished sequence goes along at once, and the
  // user's next key is not taken for its end.
  EXPECT_EQ(village("y\x1b["), "y\x1b[");
  EXPECT_EQ(user("A"), "A");

  // A held lone Esc of the user's stays held; the village's own goes as a key.
  EXPECT_EQ(user("\x1b"), "");
  EXPECT_EQ(village("z\x1b"), "z\x1b");
  EXPECT_TRUE(user_esc_deadline(run).has_value());
  EXPECT_EQ(user("[B"), "\x1b[B");
}

TEST_F(HandInputTest, ALoneEscGoesOnceDueAndLeavesNoDraft) {
  show("idle-80x24");
  EXPECT_FALSE(user_esc_deadline(run));
  EXPECT_EQ(user("\x1b"), "");
  const auto due = user_esc_deadline(run);
  ASSERT_TRUE(due);
  EXPECT_EQ(*due, now + screen::kLoneEscWait);
  EXPECT_EQ(release_user_esc(run, *due - std::chrono::milliseconds(1)).bytes, "");
  EXPECT_EQ(release_user_esc(run, *due).bytes, "\x1b");
  EXPECT_FALSE(user_esc_deadline(run));
  EXPECT_FALSE(has_hand_draft(run));

  // On a line with text the Esc is part of the draft.
  EXPECT_EQ(user("ab\x1b"), "ab");
  EXPECT_EQ(release_user_esc(run, *user_esc_deadline(run)).bytes, "\x1b");
  EXPECT_TRUE(has_hand_draft(run));
  forget_hand_draft(run);
  EXPECT_FALSE(has_hand_draft(run));
}

TEST_F(HandInputTest, DraftsAndTheInputGeneration) {
  show("idle-80x24");
  const uint64_t start = input_generation(run);
  EXPECT_FALSE(has_hand_draft(run));
  EXPECT_EQ(user("ab"), "ab");
  EXPECT_TRUE(has_hand_draft(run));
  EXPECT_GT(input_generation(run), start);

  // Enter by hand on the typed line: submitted, and no draft after it.
  screen::FilteredKeys enter = filter_user_keys(run, "\r", now);
  EXPECT_TRUE(enter.submitted);
  EXPECT_FALSE(has_hand_draft(run));

  // The village's typing counts as typing by hand.
  EXPECT_TRUE(filter_village_input(run, "cd\r", now).submitted);

  // Half a sequence held back is a draft; nothing else changed.
  EXPECT_EQ(user("\x1b[1"), "");
  EXPECT_TRUE(has_hand_draft(run));
}

TEST_F(HandInputTest, KeysThatAnswerAQuestionAreNotTyping) {
  show("approval-bash-80x24");
  screen::FilteredKeys keys = filter_user_keys(run, "1\r", now);
  EXPECT_EQ(keys.bytes, "1\r");
  EXPECT_FALSE(keys.submitted);
  EXPECT_FALSE(has_hand_draft(run));
  // The same keys once the screen moved on to the box.
  show("idle-80x24");
  EXPECT_TRUE(filter_user_keys(run, "1\r", now).submitted);
}

TEST_F(HandInputTest, TheBoxIsIdleWhenEmptyAndLeftAlone) {
  show("idle-80x24");
  EXPECT_TRUE(input_box_idle(run));
  set_last_input(KeyClock::now() + std::chrono::hours(1));  // a hand key just now
  EXPECT_FALSE(input_box_idle(run));
  set_last_input(KeyClock::now() - std::chrono::seconds(1));
  EXPECT_TRUE(input_box_idle(run));
  show("typed-long-wrapped-80x24");
  EXPECT_FALSE(input_box_idle(run));
  show("idle-80x24");
  EXPECT_EQ(user("\x1b[1"), "");  // a sequence on its way
  EXPECT_FALSE(input_box_idle(run));
}

TEST(RequestKeys, OnlyTheRemovals) {
  struct Case {
    const char* keys;
    const char* bytes;
  };
  const std::vector<Case> cases = {
      {"1", "1"},
      {"\x1b", "\x1b"},
      {"\x1b[B\r", "\x1b[B\r"},
      {"\x1b[12;40R2", "2"},
      {"\x1b[I\x1b[O", ""},
      {"\x1b[97;1:3u\x1b[97u", "\x1b[97u"},
      {"x\x1b[", "x\x1b["},
  };
  for (const Case& c : cases) EXPECT_EQ(filter_request_keys(c.keys), c.bytes) << c.keys;
}

}  // namespace
}  // namespace mossbank::run
