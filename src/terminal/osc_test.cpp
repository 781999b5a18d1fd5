#include "terminal/osc.h"

#include <gtest/gtest.h>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

using testing::fed;

TEST(Osc, Titles) {
  Terminal t = fed(10, 1,
                   "\x1b]0;a\x07"
                   "b");
  EXPECT_EQ(t.title, "a");
  EXPECT_EQ(t.icon_name, "a");
  EXPECT_EQ(screen_lines(t), "b");
  terminal_process(t, "\x1b]1;icon\x1b\\\x1b]2;x\x7fy\xc2\xa0z\x07");
  EXPECT_EQ(t.icon_name, "icon");
  EXPECT_EQ(t.title, "x\x7fy\xc2\xa0z");
  EXPECT_EQ(t.presentation.safe_title, "xy\xc2\xa0z");
  terminal_process(t, "\x1b]2;\xc2\x80q\x07");  // a C1 control ends the string unread
  EXPECT_EQ(t.title, "x\x7fy\xc2\xa0z");
}

TEST(Osc, TitlesAreCutAtACharacterBoundary) {
  // 4,094 bytes and a three-byte character that would end past 4 KiB.
  Terminal t = fed(10, 1, "\x1b]0;" + std::string(4094, 'a') + "漢字\x07");
  EXPECT_EQ(t.title, std::string(4094, 'a'));
  EXPECT_EQ(t.icon_name, std::string(4094, 'a'));
  terminal_process(t, "\x1b]2;" + std::string(4093, 'a') + "漢\x07");
  EXPECT_EQ(t.title.size(), 4096u);
}

TEST(Osc, Hyperlinks) {
  Terminal t = terminal_new(10, 1);
  auto link_after = [&](std::string_view seq) {
    terminal_process(t, seq);
    return t.pen.link;
  };
  uint32_t a = link_after("\x1b]8;id=x;http://a\x07");
  EXPECT_NE(a, 0u);
  EXPECT_TRUE(t.pen.bg & kHasExtras);
  EXPECT_EQ(link_after("\x1b]8;;\x07"), 0u);
  EXPECT_FALSE(t.pen.bg & kHasExtras);
  EXPECT_EQ(link_after("\x1b]8;foo=1:id=x;http://a\x07"), a);  // same id and URI
  EXPECT_NE(link_after("\x1b]8;id=y;http://a\x07"), a);
  EXPECT_NE(link_after("\x1b]8;id=x;http://b\x07"), a);
  uint32_t anon1 = link_after("\x1b]8;;http://a\x07");
  uint32_t anon2 = link_after("\x1b]8;id=;http://a\x07");
  EXPECT_NE(anon1, anon2);                                  // anonymous links are never shared
  EXPECT_EQ(link_after("\x1b]8;id=x;\x07"), anon2);         // params but no URI: unchanged
  EXPECT_EQ(link_after("\x1b]8\x07"), anon2);               // no ";": nothing
  EXPECT_EQ(link_after("\x1b]8; \xe3\x80\x80 ;\x07"), 0u);  // params trimmed of Unicode space
  // Cells carry the link.
  terminal_process(t, "\x1b]8;;http://c\x07L\x1b]8;;\x07N");
  EXPECT_NE(styled_cell_at(testing::screen_row(t, 0), 0).link, 0u);
  EXPECT_EQ(styled_cell_at(testing::screen_row(t, 0), 1).link, 0u);
  // The map and counter survive a full reset.
  terminal_process(t,
                   "\x1b"
                   "c");
  EXPECT_EQ(link_after("\x1b]8;id=x;http://a\x07"), a);
}

TEST(Osc, LinkMapIsBoundedAndIdsStayNonZero) {
  Terminal t = terminal_new(10, 1);
  for (int i = 0; i < 2000; ++i)
    terminal_process(
        t, "\x1b]8;id=" + std::to_string(i) + ";http://x/" + std::string(100, 'u') + "\x07");
  EXPECT_LE(t.hyperlinks.size(), 256u);
  EXPECT_EQ(t.hyperlinks.size(), t.hyperlink_order.size());
  EXPECT_LE(t.link_counter, 256u);  // evicted ids are reused
  terminal_process(t, "\x1b]8;id=a;http://" + std::string(20000, 'u') + "\x07");
  for (const auto& [key, id] : t.hyperlinks) EXPECT_LE(key.size(), 2 * 8192u + 2);
  t.link_counter = UINT32_MAX;
  terminal_process(t, "\x1b]8;;http://anon\x07");
  EXPECT_EQ(t.pen.link, 1u);
}

TEST(Osc, RequestStatus) {
  struct Case {
    const char* in;
    std::string want;
  };
  const Case cases[] = {
      {"\x1bP$qm\x1b\\", "\x1bP1$r0m\x1b\\"},
      {"\x1b[1;31m\x1bP$qm\x1b\\", "\x1bP1$r0m\x1b\\"},
      {"\x1b[2;5r\x1bP$qr\x1b\\", "\x1bP1$r2;5r\x1b\\"},
      {"\x1bP$qr\x1b\\", "\x1bP1$r1;24r\x1b\\"},
      {"\x1b[1\"q\x1bP$q\"q\x1b\\", "\x1bP1$r1\"q\x1b\\"},
      {"\x1bP$q\"q\x1b\\", "\x1bP1$r0\"q\x1b\\"},
      {"\x1bP$q\"p\x1b\\", "\x1bP1$r61;1\"p\x1b\\"},
      {"\x1bP$q q\x1b\\", "\x1bP1$r2 q\x1b\\"},
      {"\x1b[?12h\x1bP$q q\x1b\\", "\x1bP1$r1 q\x1b\\"},
      {"\x1bP$qabc\x1b\\", "\x1bP0$r\x1b\\"},
      {"\x1bP$qx\x1b\\", "\x1bP0$r\x1b\\"},
      {"\x1bP$qm\x18", ""},
  };
  for (const Case& c : cases) {
    Terminal t = terminal_new(80, 24);
    terminal_capture_replies(t);
    terminal_process(t, c.in);
    EXPECT_EQ(terminal_take_replies(t), c.want) << ::testing::PrintToString(std::string(c.in));
    terminal_process(t, c.in);
    EXPECT_FALSE(t.replies.has_value());
  }
}

}  // namespace
}  // namespace mossbank::term
