#include "daemon/json.h"

namespace mossbank {

std::optional<JsonValue> parse_json(std::string_view text) {
  JsonValue v = JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (v.is_discarded()) return std::nullopt;
  return v;
}

}  // namespace mossbank
