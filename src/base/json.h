// JSON values as the village's JavaScript peers see them.
//
// JsonValue keeps object keys in insertion order. parse_json never throws:
// text that is not exactly one JSON value gives none. Beyond plain JSON it
// refuses what the daemon's peers would never send and what we could not
// hold faithfully: a lone surrogate escape, a number too large for a double
// (1e400), nesting deeper than kJsonMaxDepth arrays/objects, a leading byte
// order mark, and bytes that are not UTF-8. A key given twice keeps its first
// place and takes the last value.
//
// The writers and conversions follow JavaScript exactly, because the texts
// they make are compared with, or shown beside, texts that Node produced:
//   to_js_json          JSON.stringify(value) (compact; array-index keys
//                       first in numeric order, then insertion order)
//   js_number_to_string Number.prototype.toString() (radix 10)
//   js_to_string        String(value); nullptr stands for undefined
//   js_array_join       Array.prototype.join(sep)
//   js_truthy           Boolean(value); nullptr stands for undefined
// Every number is first taken as a double, so integers beyond 2^53 round as
// they do in JavaScript.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace mossbank {

using JsonValue = nlohmann::ordered_json;

// Arrays and objects may nest this deep; one more level is a parse error.
inline constexpr size_t kJsonMaxDepth = 127;

std::optional<JsonValue> parse_json(std::string_view text);

std::string to_js_json(const JsonValue& value);
// Appends to_js_json(value) to `out`.
void append_js_json(std::string& out, const JsonValue& value);

// A JSON string literal of `text` (UTF-8), escaped as JSON.stringify does.
std::string write_json_string(std::string_view text);

std::string js_number_to_string(double value);

// The member `key` of `value`, or nullptr when `value` is not an object or
// has no such member (JavaScript's undefined).
const JsonValue* json_member(const JsonValue& value, std::string_view key);

// The member `key` of `value` when it holds that type; nullptr or none when
// `value` is not an object, has no such member, or it holds another type.
const std::string* json_string(const JsonValue& value, std::string_view key);
std::optional<bool> json_bool(const JsonValue& value, std::string_view key);
std::optional<double> json_number(const JsonValue& value, std::string_view key);

std::string js_to_string(const JsonValue* value);
std::string js_to_string(const JsonValue& value);
std::string js_array_join(const JsonValue& array, std::string_view separator);

bool js_truthy(const JsonValue* value);
bool js_truthy(const JsonValue& value);

// "0", or "1".."9" followed by digits, below 4294967295 (2^32 - 1).
bool is_array_index_key(std::string_view key);

struct SemVer {
  std::vector<std::string> pre_release;  // empty when none
  double major = 0;
  double minor = 0;
  double patch = 0;
};

// "1.2.3", "1.2.3-beta.1", "1.2.3+build.5" (surrounding JavaScript white
// space allowed); none for anything else.
std::optional<SemVer> parse_semver(std::string_view text);

}  // namespace mossbank
