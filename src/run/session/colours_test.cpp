#include "run/session/colours.h"

#include <gtest/gtest.h>

namespace mossbank::run {
namespace {

TEST(Colours, Normalise) {
  struct Case {
    const char* text;
    std::optional<std::string> colour;
  };
  const Case cases[] = {
      {"#ABCDEF", "#abcdef"},
      {"rgb:f/0/8", "#ff0088"},
      {"rgb:ffff/0000/0000", "#ff0000"},
      {"rgba:ffff/0000/0000/ffff", "#ff0000"},
      {"rgb:0000/ffff/0000/ffff", "#00ff00"},  // an alpha part after rgb: too
      {"rgba:0/f/0", "#00ff00"},
      {"rgb:0/f/0/", std::nullopt},
      {"rgb:0/f/0/f/f", std::nullopt},
      {"rgba:0/f/0/12345", std::nullopt},
      {"RGB:1e1e/1e1e/1e1e", "#1e1e1e"},
      {"rgb:80/80/80", "#808080"},
      {"rgb:800/800/800", "#808080"},
      {"rgb:1/2", std::nullopt},
      {"rgb:12345/0/0", std::nullopt},
      {"rgb:g/0/0", std::nullopt},
      {"#abcde", std::nullopt},
      {"red", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(normalise_colour(c.text), c.colour) << c.text;
}

TEST(Colours, AnswerSplitAcrossReads) {
  JsonValue record = JsonValue::object();
  std::string tail;
  EXPECT_FALSE(take_colour_answers(record, tail, "\x1b]11;rgb:1e1e/"));
  EXPECT_EQ(tail, "\x1b]11;rgb:1e1e/");
  EXPECT_TRUE(take_colour_answers(record, tail, "1e1e/1e1e\x07"));
  EXPECT_EQ(to_js_json(record), R"({"background":"#1e1e1e"})");
  EXPECT_EQ(tail, "");
  // The same answer again changes nothing.
  EXPECT_FALSE(take_colour_answers(record, tail, "\x1b]11;rgb:1e1e/1e1e/1e1e\x1b\\"));
}

TEST(Colours, BackgroundAnswerWithAlpha) {
  JsonValue record = JsonValue::object();
  std::string tail;
  EXPECT_TRUE(take_colour_answers(record, tail, "\x1b]11;rgb:0000/ffff/0000/ffff\x07"));
  EXPECT_EQ(to_js_json(record), R"({"background":"#00ff00"})");
}

TEST(Colours, KeysInTheOrderFirstSet) {
  JsonValue record = JsonValue::object();
  std::string tail;
  EXPECT_TRUE(take_colour_answers(record, tail,
                                  "a\x1b]12;#00FF00\x07"
                                  "b\x1b]10;rgb:ffff/ffff/ffff\x1b\\c"));
  EXPECT_EQ(to_js_json(record), R"({"cursor":"#00ff00","foreground":"#ffffff"})");
}

TEST(Colours, PaletteEntries) {
  JsonValue record = JsonValue::object();
  std::string tail;
  EXPECT_TRUE(take_colour_answers(record, tail, "\x1b]4;1;rgb:ff/00/00;16;#ffffff;15;#0000ff\x07"));
  const JsonValue& palette = record["palette"];
  ASSERT_EQ(palette.size(), 16u);
  EXPECT_EQ(palette[1], "#ff0000");
  EXPECT_EQ(palette[15], "#0000ff");
  EXPECT_TRUE(palette[0].is_null());
  // Index 16 and up is ignored; an unchanged entry is no change.
  EXPECT_FALSE(take_colour_answers(record, tail, "\x1b]4;16;#000000;1;rgb:ff/00/00\x07"));
}

TEST(Colours, TailIsTheUnfinishedAnswerOnly) {
  struct Case {
    const char* bytes;
    const char* tail;
  };
  const Case cases[] = {
      {"abc\x1b", "\x1b"},
      {"\x1b]", "\x1b]"},
      {"\x1b]11", "\x1b]11"},
      {"\x1b]11;rgb:0/0/0\x1b", "\x1b]11;rgb:0/0/0\x1b"},
      {"\x1b]11;x\x07\x1b", "\x1b"},
      {"\x1b[A", ""},
      {"plain", ""},
  };
  for (const Case& c : cases) {
    JsonValue record = JsonValue::object();
    std::string tail;
    take_colour_answers(record, tail, c.bytes);
    EXPECT_EQ(tail, c.tail) << c.bytes;
  }
}

}  // namespace
}  // namespace mossbank::run
