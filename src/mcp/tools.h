// The village tools the server carries out itself against the daemon:
// the inbox (notify, inbox_list), the residents' summary (village_status),
// and the two switched-off to-do tools.
#pragma once

#include <optional>
#include <string>

#include "base/json.h"
#include "mcp/results.h"

namespace mossbank::mcp {

struct McpServerContext;

// POST /api/inbox.
ToolOutcome notify(const McpServerContext& context, const JsonValue& arguments);
// GET /api/inbox, or /api/inbox?unread=1 when "unread" is exactly true.
ToolOutcome inbox_list(const McpServerContext& context, const JsonValue& arguments);
// GET /api/state.
ToolOutcome village_status(const McpServerContext& context, const JsonValue& arguments);
// mossbank_todo_add, mossbank_todo_list: no daemon call.
ToolResult todo_off();

// The body POST /api/inbox sends for these arguments.
JsonValue notify_body(const JsonValue& arguments);

// The daemon's reason in a refusal: its "problems" joined with "; ", else
// String(its "error"), else "refused".
std::string refusal_text(const JsonValue& body);

// One inbox line: "<*| > YYYY-MM-DD HH:MM · <source>[ <channel>] · <name>:
// <text>[ (<url>)]"; none when the message can't be shown (no "at", an "at"
// that is not a time, no sender).
std::optional<std::string> format_inbox_message(const JsonValue& message);

// The UTC date text of a time in milliseconds, as ISO 8601 with a blank for
// the "T" and cut to 16 characters ("1970-01-01 00:00", "+010000-01-01 00").
std::string inbox_date_text(int64_t ms);

// Whether the user has already seen why this resident needs attention.
bool attention_seen(const JsonValue& resident);

}  // namespace mossbank::mcp
