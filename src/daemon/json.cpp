#include "daemon/json.h"

namespace mossbank {

std::optional<JsonValue> parse_json(std::string_view text) {
  JsonValue v = JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (v.is_discarded()) return std::nullopt;
  return v;
}
std::string to_js_json(const JsonValue& v) { return v.dump(); }
void append_js_json(std::string& out, const JsonValue& v) { out += v.dump(); }
std::string write_json_string(std::string_view t) { return JsonValue(std::string(t)).dump(); }
std::string js_number_to_string(double) { return {}; }
const JsonValue* json_member(const JsonValue&, std::string_view) { return nullptr; }
std::string js_to_string(const JsonValue*) { return {}; }
std::string js_to_string(const JsonValue&) { return {}; }
std::string js_array_join(const JsonValue&, std::string_view) { return {}; }
bool js_truthy(const JsonValue*) { return false; }
bool js_truthy(const JsonValue&) { return false; }
bool is_js_space(char32_t) { return false; }
std::string_view js_trim(std::string_view t) { return t; }
std::string_view trim_end_js(std::string_view t) { return t; }
bool is_array_index_key(std::string_view) { return false; }
std::optional<SemVer> parse_semver(std::string_view) { return std::nullopt; }

}  // namespace mossbank
