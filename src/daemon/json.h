// JSON values as the village's JavaScript peers see them.
//
// JsonValue keeps object keys in insertion order. parse_json never throws:
// text that is not one JSON value gives none.
#pragma once

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace mossbank {

using JsonValue = nlohmann::ordered_json;

std::optional<JsonValue> parse_json(std::string_view text);

}  // namespace mossbank
