#include "run/session/colours.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "base/controls.h"
#include "base/hex.h"
#include "base/text.h"

namespace mossbank::run {

namespace {

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool all_hex(std::string_view s, size_t min, size_t max) {
  if (s.size() < min || s.size() > max) return false;
  for (char c : s)
    if (!is_hex(c)) return false;
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Splits at '/'.
std::vector<std::string_view> split_slash(std::string_view s) {
  std::vector<std::string_view> parts;
  for (;;) {
    size_t at = s.find('/');
    parts.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

// Sets key to value unless it already holds it; true when it changed.
bool set_text(JsonValue& record, const char* key, const std::string& value) {
  auto it = record.find(key);
  if (it != record.end() && it->is_string() && it->get_ref<const std::string&>() == value)
    return false;
  record[key] = value;
  return true;
}

// "4;i;c;i;c...": entries 0..15 whose colour normalises.
bool take_palette(JsonValue& record, std::string_view value) {
  JsonValue palette = JsonValue::array();
  auto old = record.find("palette");
  for (int i = 0; i < 16; ++i) {
    if (old != record.end() && old->is_array() && old->size() == 16)
      palette.push_back((*old)[static_cast<size_t>(i)]);
    else
      palette.push_back(nullptr);
  }
  std::vector<std::string_view> fields;
  for (;;) {
    size_t at = value.find(';');
    fields.push_back(value.substr(0, at));
    if (at == std::string_view::npos) break;
    value.remove_prefix(at + 1);
  }
  bool changed = false;
  for (size_t k = 0; k + 1 < fields.size(); k += 2) {
    std::string_view index = fields[k];
    if (index.empty() || index.size() > 2) continue;
    bool digits = true;
    for (char c : index) digits = digits && is_digit(c);
    if (!digits) continue;
    int i = std::stoi(std::string(index));
    if (i > 15) continue;
    auto colour = normalise_colour(fields[k + 1]);
    if (!colour) continue;
    JsonValue& slot = palette[static_cast<size_t>(i)];
    if (slot.is_string() && slot.get_ref<const std::string&>() == *colour) continue;
    slot = *colour;
    changed = true;
  }
  if (changed) record["palette"] = std::move(palette);
  return changed;
}

// The unfinished start of an OSC answer at the very end: ESC, ESC ], ESC ]
// digits, then optionally ";" and value bytes and a final ESC.
std::optional<size_t> partial_answer_start(std::string_view text) {
  size_t esc = text.rfind(kEsc);
  if (esc == std::string_view::npos) return std::nullopt;
  // A final ESC may be the first byte of "ESC \" after a value: look for
  // the ESC that opens the answer.
  auto shape_ok = [&](size_t at) {
    std::string_view s = text.substr(at + 1);
    if (s.empty()) return true;
    if (s[0] != ']') return false;
    s.remove_prefix(1);
    size_t k = 0;
    while (k < s.size() && is_digit(s[k])) ++k;
    s.remove_prefix(k);
    if (s.empty()) return true;
    if (s[0] != ';') return false;
    s.remove_prefix(1);
    for (size_t j = 0; j < s.size(); ++j) {
      if (s[j] == kBel) return false;
      if (s[j] == kEsc) return j + 1 == s.size();
    }
    return true;
  };
  if (esc + 1 == text.size() && esc > 0) {
    size_t open = text.rfind(kEsc, esc - 1);
    if (open != std::string_view::npos && shape_ok(open)) return open;
  }
  if (shape_ok(esc)) return esc;
  return std::nullopt;
}

}  // namespace

std::string hex_component(std::string_view digits) {
  uint32_t v = 0;
  for (char c : digits)
    v = v * 16 + static_cast<uint32_t>(is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
  const double max = std::pow(16.0, static_cast<double>(digits.size())) - 1;
  const auto scaled = static_cast<unsigned>(std::floor(v / max * 255 + 0.5));
  return {kLowerHexDigits[(scaled >> 4) & 15], kLowerHexDigits[scaled & 15]};
}

std::optional<std::string> normalise_colour(std::string_view text) {
  if (text.size() == 7 && text[0] == '#' && all_hex(text.substr(1), 6, 6)) return ascii_lower(text);
  // "rgb:" or "rgba:", three components and an optional fourth (alpha,
  // ignored), whichever prefix.
  std::string_view rest;
  if (text.size() > 4 && ascii_lower(text.substr(0, 4)) == "rgb:") {
    rest = text.substr(4);
  } else if (text.size() > 5 && ascii_lower(text.substr(0, 5)) == "rgba:") {
    rest = text.substr(5);
  } else {
    return std::nullopt;
  }
  auto parts = split_slash(rest);
  if (parts.size() != 3 && parts.size() != 4) return std::nullopt;
  for (auto p : parts)
    if (!all_hex(p, 1, 4)) return std::nullopt;
  return "#" + hex_component(parts[0]) + hex_component(parts[1]) + hex_component(parts[2]);
}

bool take_colour_answers(JsonValue& record, std::string& tail, std::string_view bytes) {
  if (tail.empty() && bytes.find(kEsc) == std::string_view::npos) return false;
  std::string text = tail + std::string(bytes);
  bool changed = false;
  size_t pos = 0;
  for (;;) {
    size_t at = text.find("\x1b]", pos);
    if (at == std::string::npos) break;
    size_t k = at + 2;
    size_t digits_end = k;
    while (digits_end < text.size() && is_digit(text[digits_end])) ++digits_end;
    std::string_view code(text.data() + k, digits_end - k);
    pos = at + 1;
    if (digits_end >= text.size() || text[digits_end] != ';') continue;
    if (code != "4" && code != "10" && code != "11" && code != "12") continue;
    size_t v = digits_end + 1;
    size_t end = v;
    while (end < text.size() && text[end] != kBel && text[end] != kEsc) ++end;
    if (end >= text.size()) continue;
    size_t after;
    if (text[end] == kBel) {
      after = end + 1;
    } else if (end + 1 < text.size() && text[end + 1] == '\\') {
      after = end + 2;
    } else {
      continue;
    }
    std::string_view value(text.data() + v, end - v);
    if (code == "4") {
      changed = take_palette(record, value) || changed;
    } else if (auto colour = normalise_colour(value)) {
      const char* key = code == "10" ? "foreground" : code == "11" ? "background" : "cursor";
      changed = set_text(record, key, *colour) || changed;
    }
    pos = after;
  }
  auto partial = partial_answer_start(text);
  tail = partial ? text.substr(*partial) : std::string();
  return changed;
}

}  // namespace mossbank::run
