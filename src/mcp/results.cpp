#include "mcp/results.h"

#include "mcp/mcp.h"
#include "mcp/texts.h"

namespace mossbank::mcp {

ToolResult text_result(const std::string& text, const JsonValue* structured) {
  ToolResult result = JsonValue::object();
  JsonValue item = JsonValue::object();
  item["type"] = "text";
  item["text"] = text;
  result["content"] = JsonValue::array({std::move(item)});
  if (structured != nullptr && structured->is_object()) result["structuredContent"] = *structured;
  return result;
}

ToolResult error_result(const std::string& text) {
  ToolResult result = text_result(text);
  result["isError"] = true;
  return result;
}

ToolResult village_off_result(const McpServerContext& context) {
  return error_result(std::string(village_off_text(context.message_language)));
}

}  // namespace mossbank::mcp
