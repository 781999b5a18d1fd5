#include "run/requests/new_conversation.h"

#include <gtest/gtest.h>

#include <vector>

namespace mossbank::run {
namespace {

TEST(TypedLinePost, SuffixByWhatTheBoxHeld) {
  const std::string long_line(5000, 'x');
  struct Case {
    std::string screen;
    std::optional<LinePost> post;
  };
  const std::vector<Case> cases = {
      {"› /new", LinePost{"/command", "/new"}},
      {"› fix it", LinePost{"/typed", "fix it"}},
      {"› /model", std::nullopt},
      {"› ", std::nullopt},
      {"› " + long_line, LinePost{"/typed", std::string(4000, 'x')}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(typed_line_post("codex", c.screen, c.screen), c.post) << c.screen;
}

TEST(TypedLinePost, FourThousandCharactersNotBytes) {
  const std::string line = std::string(3999, 'a') + "你好";
  std::optional<LinePost> post = typed_line_post("codex", "› " + line, "› " + line);
  ASSERT_TRUE(post);
  EXPECT_EQ(post->line, std::string(3999, 'a') + "你");
}

}  // namespace
}  // namespace mossbank::run
