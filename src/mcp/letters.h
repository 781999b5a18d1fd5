// Letters between residents: the five letters tools are the daemon's work.
// Each call is forwarded unchanged to POST /api/residents/talk-tool with
// who is calling, and the daemon's tool result is relayed:
//   {"tool":<name>,"args":<arguments>,"call":{"pid":..,"run":..,"language":"en"|"ko"}}
// An answer that is not a well-formed tool result becomes the
// letters-unavailable error; the daemon's own refusals pass unchanged.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "base/json.h"
#include "daemon/daemon_client.h"
#include "mcp/results.h"

namespace mossbank::mcp {

struct McpServerContext;
struct CallIdentity;

// How long initialize waits for the introduction, all steps included.
inline constexpr std::chrono::milliseconds kIntroductionBudget{1500};

ToolOutcome letters_tool(const McpServerContext& context, const std::string& tool,
                         const JsonValue& arguments);

JsonValue talk_tool_request(const std::string& tool, const JsonValue& arguments,
                            const CallIdentity& identity);

ToolResult talk_tool_result(const DaemonReply& answer);

// The resident's introduction from mossbank_whoami, for initialize; none
// when the daemon does not give one within `budget`. The budget covers the
// whole call (the daemon's proof, a token refresh and the request).
std::optional<std::string> introduction(const McpServerContext& context,
                                        std::chrono::nanoseconds budget = kIntroductionBudget);

}  // namespace mossbank::mcp
