// Tool results, the answer of every tools/call that reaches a tool:
// {"content":[{"type":"text","text":...}],"structuredContent":{...},"isError":true}
// with "structuredContent" only when the tool gives an object and "isError"
// only on an error (never written as false).
#pragma once

#include <optional>
#include <string>

#include "base/json.h"
#include "daemon/home.h"

namespace mossbank::mcp {

using ToolResult = JsonValue;

// What a tool operation gives: a result, or none when the daemon could not
// be used at all (shown as the village-off text).
using ToolOutcome = std::optional<ToolResult>;

ToolResult text_result(const std::string& text, const JsonValue* structured = nullptr);
ToolResult error_result(const std::string& text);

struct McpServerContext;
ToolResult village_off_result(const McpServerContext& context);

}  // namespace mossbank::mcp
