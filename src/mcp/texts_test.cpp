#include "mcp/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcp/handler.h"

namespace mossbank::mcp {
namespace {

TEST(Texts, Instructions) {
  EXPECT_EQ(kInstructions.size(), 1156u);
  EXPECT_EQ(kInstructions.find('\n'), std::string_view::npos);
}

TEST(Texts, ToolList) {
  const JsonValue& list = tool_list();
  ASSERT_EQ(list.size(), 1u);
  const char* names[] = {"mossbank_notify", "mossbank_inbox_list", "mossbank_village_status",
                         "mossbank_whoami", "mossbank_residents",  "mossbank_send",
                         "mossbank_mail",   "mossbank_reply"};
  ASSERT_EQ(list["tools"].size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    const JsonValue& tool = list["tools"][i];
    EXPECT_EQ(tool["name"], names[i]);
    EXPECT_TRUE(is_known_tool(names[i]));
    std::vector<std::string> keys;
    for (auto it = tool.begin(); it != tool.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "title", "description", "inputSchema"}));
    const JsonValue& schema = tool["inputSchema"];
    EXPECT_EQ(schema.begin().key(), "type");
    EXPECT_EQ(schema["type"], "object");
    EXPECT_TRUE(schema["properties"].is_object());
    for (const auto& [name, property] : schema["properties"].items()) {
      EXPECT_EQ(property.begin().key(), "type") << name;
      EXPECT_EQ((--property.end()).key(), "description") << name;
    }
  }
  EXPECT_EQ(
      to_js_json(list["tools"][0]["inputSchema"]["properties"]["source"]),
      R"({"type":"string","enum":["slack","github","vercel","custom"],"description":"Where it came from (default custom)."})");
  EXPECT_TRUE(is_known_tool("mossbank_todo_add"));
  EXPECT_FALSE(is_known_tool("mossbank_todo"));
}

}  // namespace
}  // namespace mossbank::mcp
