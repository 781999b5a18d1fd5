#include "mcp/handler.h"

#include <array>
#include <exception>
#include <string_view>

#include "base/text.h"
#include "mcp/letters.h"
#include "mcp/mcp.h"
#include "mcp/texts.h"
#include "mcp/tools.h"

namespace mossbank::mcp {

namespace {

constexpr std::array<std::string_view, 5> kInboxTools = {"mossbank_notify", "mossbank_inbox_list",
                                                         "mossbank_todo_add", "mossbank_todo_list",
                                                         "mossbank_village_status"};
constexpr std::array<std::string_view, 5> kLetterTools = {
    "mossbank_whoami", "mossbank_residents", "mossbank_send", "mossbank_mail", "mossbank_reply"};

constexpr std::string_view kNotificationPrefix = "notifications/";

JsonValue error_answer(const JsonValue& id, int64_t code, const std::string& message) {
  JsonValue error = JsonValue::object();
  error["code"] = code;
  error["message"] = message;
  JsonValue answer = JsonValue::object();
  answer["jsonrpc"] = "2.0";
  answer["id"] = id;
  answer["error"] = std::move(error);
  return answer;
}

ToolOutcome inbox_tool(const McpServerContext& context, const std::string& name,
                       const JsonValue& arguments) {
  if (name == "mossbank_notify") return notify(context, arguments);
  if (name == "mossbank_inbox_list") return inbox_list(context, arguments);
  if (name == "mossbank_village_status") return village_status(context, arguments);
  return todo_off();
}

}  // namespace

bool is_known_tool(const std::string& name) {
  return listed(kInboxTools, name) || listed(kLetterTools, name);
}

JsonValue parse_error_answer() { return error_answer(nullptr, kParseError, "Parse error"); }

JsonValue initialize_result(const McpServerContext& context, const JsonValue* params) {
  std::string_view version = kProtocolVersions[0];
  const JsonValue* asked = params != nullptr ? json_member(*params, "protocolVersion") : nullptr;
  if (asked != nullptr && asked->is_string()) {
    for (std::string_view v : kProtocolVersions)
      if (asked->get_ref<const std::string&>() == v) version = v;
  }
  std::string instructions(kInstructions);
  if (std::optional<std::string> intro = introduction(context)) {
    instructions += ' ';
    instructions += *intro;
  }
  JsonValue result = JsonValue::object();
  result["protocolVersion"] = std::string(version);
  result["capabilities"] = {{"tools", {{"listChanged", false}}}};
  result["serverInfo"] = {{"name", std::string(kServerName)},
                          {"title", std::string(kServerTitle)},
                          {"version", context.server_version}};
  result["instructions"] = std::move(instructions);
  return result;
}

MethodOutcome call_tool(const McpServerContext& context, const JsonValue* params) {
  const JsonValue* name = params != nullptr ? json_member(*params, "name") : nullptr;
  if (name == nullptr || !name->is_string())
    return MethodError{kInvalidParams, "tools/call needs a tool name"};
  const std::string& tool = name->get_ref<const std::string&>();
  if (!is_known_tool(tool)) return MethodError{kInvalidParams, "Unknown tool: " + tool};

  const JsonValue* given = json_member(*params, "arguments");
  JsonValue arguments = given == nullptr || given->is_null() ? JsonValue::object() : *given;
  ToolOutcome outcome = listed(kLetterTools, tool) ? letters_tool(context, tool, arguments)
                                                   : inbox_tool(context, tool, arguments);
  return MethodResult{outcome ? std::move(*outcome) : village_off_result(context)};
}

MethodOutcome dispatch_method(const McpServerContext& context, const std::string& method,
                              const JsonValue* params) {
  try {
    if (method == "ping") return MethodResult{JsonValue::object()};
    if (method == "initialize") return MethodResult{initialize_result(context, params)};
    if (method == "tools/list") return MethodResult{tool_list()};
    if (method == "tools/call") return call_tool(context, params);
    if (method.size() >= kNotificationPrefix.size() &&
        std::string_view(method).substr(0, kNotificationPrefix.size()) == kNotificationPrefix)
      return NoAnswer{};
    return MethodError{kMethodNotFound, "Method not found: " + method};
  } catch (const std::exception&) {
    // A JSON access that could not be met (or memory ran out): the detail
    // stays here.
    return MethodFailure{};
  }
}

std::optional<JsonValue> handle_request(const McpServerContext& context, const JsonValue& message) {
  const JsonValue* jsonrpc = json_member(message, "jsonrpc");
  const JsonValue* method = json_member(message, "method");
  bool is_request = message.is_object() && jsonrpc != nullptr && jsonrpc->is_string() &&
                    jsonrpc->get_ref<const std::string&>() == "2.0" && method != nullptr &&
                    method->is_string();
  if (!is_request) return error_answer(nullptr, kInvalidRequest, "Invalid request");

  const JsonValue* raw_id = json_member(message, "id");
  JsonValue id = raw_id != nullptr && (raw_id->is_number() || raw_id->is_string())
                     ? *raw_id
                     : JsonValue(nullptr);
  MethodOutcome outcome = dispatch_method(context, method->get_ref<const std::string&>(),
                                          json_member(message, "params"));
  if (raw_id == nullptr) return std::nullopt;  // a notification

  if (auto* result = std::get_if<MethodResult>(&outcome)) {
    JsonValue answer = JsonValue::object();
    answer["jsonrpc"] = "2.0";
    answer["id"] = std::move(id);
    answer["result"] = std::move(result->value);
    return answer;
  }
  if (auto* error = std::get_if<MethodError>(&outcome))
    return error_answer(id, error->code, error->message);
  if (std::holds_alternative<MethodFailure>(outcome))
    return error_answer(id, kInternalError, "Internal error");
  return std::nullopt;
}

}  // namespace mossbank::mcp
