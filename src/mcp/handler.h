// JSON-RPC handling: the envelope, the methods and tools/call's routing.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "base/json.h"
#include "mcp/results.h"

namespace mossbank::mcp {

struct McpServerContext;

struct MethodResult {
  JsonValue value;
};
struct MethodError {
  int64_t code = 0;
  std::string message;
};
struct NoAnswer {};
// The method itself failed; answered only as -32603 "Internal error".
struct MethodFailure {};

using MethodOutcome = std::variant<MethodResult, MethodError, NoAnswer, MethodFailure>;

inline constexpr int64_t kParseError = -32700;
inline constexpr int64_t kInvalidRequest = -32600;
inline constexpr int64_t kMethodNotFound = -32601;
inline constexpr int64_t kInvalidParams = -32602;
inline constexpr int64_t kInternalError = -32603;

// {"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}}
JsonValue parse_error_answer();

// `params` is nullptr when the message has none.
MethodOutcome dispatch_method(const McpServerContext& context, const std::string& method,
                              const JsonValue* params);

JsonValue initialize_result(const McpServerContext& context, const JsonValue* params);

MethodOutcome call_tool(const McpServerContext& context, const JsonValue* params);

// Whether tools/call takes this name (the eight listed and the two to-dos).
bool is_known_tool(const std::string& name);

}  // namespace mossbank::mcp
