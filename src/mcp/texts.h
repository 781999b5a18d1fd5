// The MCP server's own texts and tables: the tool definitions that
// tools/list gives, the instructions of initialize, and every message a
// tool shows. The tool texts are English only; the village-off text follows
// the UI language.
#pragma once

#include <array>
#include <string_view>

#include "base/json.h"
#include "daemon/home.h"

namespace mossbank::mcp {

// Protocol versions the server speaks; the first is the default.
inline constexpr std::array<std::string_view, 3> kProtocolVersions = {"2025-06-18", "2025-03-26",
                                                                      "2024-11-05"};

inline constexpr std::string_view kServerName = "mossbank";
inline constexpr std::string_view kServerTitle = "Mossbank";

// The eight listed tools in tools/list order: {"tools":[...]} parsed once.
const JsonValue& tool_list();

// The fixed instructions of initialize (one line, 1,156 bytes).
extern const std::string_view kInstructions;

std::string_view village_off_text(UiLanguage language);

// Village tools.
inline constexpr std::string_view kNotifyAccepted =
    "Delivered to the village inbox; the postman is taking it to the chief.";
inline constexpr std::string_view kNotifyThrottled =
    "The village inbox is taking too many messages at once; try again in a second.";
inline constexpr std::string_view kNotifyRefused = "The village refused the message: ";
inline constexpr std::string_view kInboxEmpty = "The inbox is empty.";
inline constexpr std::string_view kInboxNoUnread = "No unread messages.";
inline constexpr std::string_view kInboxUnreadable = "Couldn't read the inbox: ";
inline constexpr std::string_view kStatusUnreadable = "Couldn't read the village.";
inline constexpr std::string_view kTodoOff =
    "The to-dos are hidden in this version of Mossbank, so this tool is off.";

// Letters.
inline constexpr std::string_view kLettersUnavailable =
    "This Mossbank can\u2019t carry letters between residents yet: update Mossbank to the latest "
    "version.";

}  // namespace mossbank::mcp
