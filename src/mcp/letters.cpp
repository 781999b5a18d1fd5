#include "mcp/letters.h"

#include "daemon/daemon_api.h"
#include "mcp/mcp.h"
#include "mcp/texts.h"

namespace mossbank::mcp {

namespace {

bool is_text_item(const JsonValue& item) {
  const JsonValue* type = json_member(item, "type");
  const JsonValue* text = json_member(item, "text");
  return type != nullptr && type->is_string() && type->get_ref<const std::string&>() == "text" &&
         text != nullptr && text->is_string();
}

}  // namespace

JsonValue talk_tool_request(const std::string& tool, const JsonValue& arguments,
                            const CallIdentity& identity) {
  JsonValue call = JsonValue::object();
  if (identity.parent_pid) call["pid"] = *identity.parent_pid;
  if (identity.run_id) call["run"] = *identity.run_id;
  call["language"] = identity.language == UiLanguage::Korean ? "ko" : "en";
  JsonValue body = JsonValue::object();
  body["tool"] = tool;
  body["args"] = arguments;
  body["call"] = std::move(call);
  return body;
}

ToolResult talk_tool_result(const DaemonReply& answer) {
  const JsonValue* result = json_member(answer.body, "result");
  const JsonValue* content = result != nullptr ? json_member(*result, "content") : nullptr;
  bool well_formed = answer.status == 200 && answer.body.is_object() && result != nullptr &&
                     result->is_object() && content != nullptr && content->is_array() &&
                     !content->empty();
  if (well_formed) {
    for (const JsonValue& item : *content) well_formed = well_formed && is_text_item(item);
  }
  if (!well_formed) return error_result(std::string(kLettersUnavailable));

  ToolResult out = JsonValue::object();
  JsonValue items = JsonValue::array();
  for (const JsonValue& item : *content) {
    JsonValue copy = JsonValue::object();
    copy["type"] = "text";
    copy["text"] = *json_member(item, "text");
    items.push_back(std::move(copy));
  }
  out["content"] = std::move(items);
  const JsonValue* structured = json_member(*result, "structuredContent");
  if (structured != nullptr && structured->is_object()) out["structuredContent"] = *structured;
  const JsonValue* is_error = json_member(*result, "isError");
  if (is_error != nullptr && is_error->is_boolean() && is_error->get<bool>()) out["isError"] = true;
  return out;
}

ToolOutcome letters_tool(const McpServerContext& context, const std::string& tool,
                         const JsonValue& arguments) {
  DaemonAnswer answer = context.daemon->post(std::string(kTalkToolPath),
                                             talk_tool_request(tool, arguments, context.identity));
  if (!answer) return std::nullopt;
  return talk_tool_result(*answer);
}

std::optional<std::string> introduction(const McpServerContext& context,
                                        std::chrono::nanoseconds budget) {
  // post_within holds the whole call (proof, token refresh and request) to
  // the budget.
  DaemonAnswer answer = context.daemon->post_within(
      std::string(kTalkToolPath),
      talk_tool_request("mossbank_whoami", JsonValue::object(), context.identity), budget);
  if (!answer) return std::nullopt;
  ToolResult result = talk_tool_result(*answer);
  const JsonValue* structured = json_member(result, "structuredContent");
  const JsonValue* intro =
      structured != nullptr ? json_member(*structured, "introduction") : nullptr;
  if (intro == nullptr || !intro->is_string() || intro->get_ref<const std::string&>().empty())
    return std::nullopt;
  return intro->get<std::string>();
}

}  // namespace mossbank::mcp
