#include "base/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/hex.h"
#include "base/numbers.h"
#include "base/text.h"
#include "base/utf8.h"

namespace mossbank {

namespace {

// Builds a JsonValue from nlohmann's SAX events, refusing what nlohmann's own
// DOM builder would let through: numbers that overflowed to infinity and
// nesting beyond kJsonMaxDepth. (Lone surrogates and invalid UTF-8 are
// already lexer errors.) A repeated key is assigned in place, so it keeps its
// first position and takes the last value.
class Builder {
 public:
  using number_integer_t = JsonValue::number_integer_t;
  using number_unsigned_t = JsonValue::number_unsigned_t;
  using number_float_t = JsonValue::number_float_t;
  using string_t = JsonValue::string_t;
  using binary_t = JsonValue::binary_t;

  JsonValue root;

  bool null() { return put(nullptr) != nullptr; }
  bool boolean(bool v) { return put(v) != nullptr; }
  bool number_integer(number_integer_t v) { return put(v) != nullptr; }
  bool number_unsigned(number_unsigned_t v) { return put(v) != nullptr; }
  bool number_float(number_float_t v, const string_t&) {
    if (!std::isfinite(v)) return false;
    return put(v) != nullptr;
  }
  bool string(string_t& v) { return put(std::move(v)) != nullptr; }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return open(JsonValue::object()); }
  bool start_array(std::size_t) { return open(JsonValue::array()); }
  bool key(string_t& k) {
    key_ = std::move(k);
    return true;
  }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  bool open(JsonValue container) {
    if (stack_.size() >= kJsonMaxDepth) return false;
    JsonValue* slot = put(std::move(container));
    stack_.push_back(slot);
    return true;
  }

  // Stores a value where the parse stands and returns where it went. Only the
  // innermost open container grows, so the pointers on the stack stay valid.
  JsonValue* put(JsonValue v) {
    if (stack_.empty()) {
      root = std::move(v);
      return &root;
    }
    JsonValue& top = *stack_.back();
    if (top.is_array()) {
      top.push_back(std::move(v));
      return &top.back();
    }
    JsonValue& slot = top[key_];
    slot = std::move(v);
    return &slot;
  }

  std::vector<JsonValue*> stack_;
  std::string key_;
};

double as_double(const JsonValue& v) {
  switch (v.type()) {
    case JsonValue::value_t::number_integer:
      return static_cast<double>(v.get_ref<const JsonValue::number_integer_t&>());
    case JsonValue::value_t::number_unsigned:
      return static_cast<double>(v.get_ref<const JsonValue::number_unsigned_t&>());
    case JsonValue::value_t::number_float:
      return v.get_ref<const JsonValue::number_float_t&>();
    default:
      return 0;
  }
}

void append_json_string(std::string& out, std::string_view text) {
  std::string repaired;
  if (!is_valid_utf8(text)) {
    // Our peers must never get bytes that are not UTF-8.
    repaired = utf8_lossy(text);
    text = repaired;
  }
  out += '"';
  size_t run = 0;  // start of the bytes not yet copied
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += "\\u00";
        out += kLowerHexDigits[c >> 4];
        out += kLowerHexDigits[c & 0xF];
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

uint32_t array_index_value(std::string_view key) {
  return static_cast<uint32_t>(parse_decimal(key).value_or(0));
}

// The words JSON.stringify and String() both give: "null" for a value
// without one, "true" and "false". False, and nothing written, for numbers,
// strings, arrays and objects.
bool append_null_or_bool(std::string& out, const JsonValue& v) {
  if (v.is_boolean()) {
    out += v.get<bool>() ? "true" : "false";
    return true;
  }
  if (v.is_null() || v.is_discarded() || v.is_binary()) {
    out += "null";
    return true;
  }
  return false;
}

void append_value(std::string& out, const JsonValue& v) {
  if (append_null_or_bool(out, v)) return;
  switch (v.type()) {
    case JsonValue::value_t::number_integer:
    case JsonValue::value_t::number_unsigned:
    case JsonValue::value_t::number_float: {
      double d = as_double(v);
      if (!std::isfinite(d)) {
        out += "null";
      } else {
        out += js_number_to_string(d);
      }
      return;
    }
    case JsonValue::value_t::string:
      append_json_string(out, v.get_ref<const std::string&>());
      return;
    case JsonValue::value_t::array: {
      out += '[';
      bool first = true;
      for (const JsonValue& e : v) {
        if (!first) out += ',';
        first = false;
        append_value(out, e);
      }
      out += ']';
      return;
    }
    case JsonValue::value_t::object: {
      out += '{';
      bool first = true;
      auto member = [&](const std::string& key, const JsonValue& value) {
        if (!first) out += ',';
        first = false;
        append_json_string(out, key);
        out += ':';
        append_value(out, value);
      };
      bool any_index = false;
      for (auto it = v.begin(); it != v.end() && !any_index; ++it)
        any_index = is_array_index_key(it.key());
      if (!any_index) {
        for (auto it = v.begin(); it != v.end(); ++it) member(it.key(), it.value());
      } else {
        // JSON.stringify walks integer-like keys first, in numeric order.
        std::vector<std::pair<uint32_t, const JsonValue::object_t::value_type*>> index_keys;
        for (const auto& kv : v.get_ref<const JsonValue::object_t&>())
          if (is_array_index_key(kv.first))
            index_keys.emplace_back(array_index_value(kv.first), &kv);
        std::stable_sort(index_keys.begin(), index_keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [n, kv] : index_keys) member(kv->first, kv->second);
        for (const auto& kv : v.get_ref<const JsonValue::object_t&>())
          if (!is_array_index_key(kv.first)) member(kv.first, kv.second);
      }
      out += '}';
      return;
    }
    default:  // written above
      return;
  }
}

void append_js_string_of(std::string& out, const JsonValue& v);

void append_join(std::string& out, const JsonValue& array, std::string_view sep) {
  bool first = true;
  for (const JsonValue& e : array) {
    if (!first) out += sep;
    first = false;
    if (!e.is_null()) append_js_string_of(out, e);
  }
}

void append_js_string_of(std::string& out, const JsonValue& v) {
  if (append_null_or_bool(out, v)) return;
  if (v.is_number()) {
    out += js_number_to_string(as_double(v));
  } else if (v.is_string()) {
    out += v.get_ref<const std::string&>();
  } else if (v.is_array()) {
    append_join(out, v, ",");
  } else {
    out += "[object Object]";
  }
}

// The code point that starts at `pos`, and its length; 0 length for bytes
// that do not begin a valid sequence.
bool ascii_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ident_chars(std::string_view s, bool allow_dot) {
  if (s.empty()) return false;
  for (char c : s) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              c == '-' || (allow_dot && c == '.');
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    if (at == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, at - start));
    start = at + 1;
  }
}

}  // namespace

std::optional<JsonValue> parse_json(std::string_view text) {
  // nlohmann would skip a byte order mark; JSON text from our peers has none.
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) return std::nullopt;
  Builder builder;
  bool ok = JsonValue::sax_parse(text.begin(), text.end(), &builder,
                                 nlohmann::detail::input_format_t::json, /*strict=*/true);
  if (!ok) return std::nullopt;
  return std::move(builder.root);
}

std::string to_js_json(const JsonValue& value) {
  std::string out;
  append_value(out, value);
  return out;
}

void append_js_json(std::string& out, const JsonValue& value) { append_value(out, value); }

std::string write_json_string(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

std::string js_number_to_string(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";
  std::string out;
  if (value < 0) {
    out += '-';
    value = -value;
  }
  // Shortest round-trip digits, as "d.ddde±x".
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits += c;
  int exp10 = 0;
  std::string_view exp_text = sci.substr(e + 1);
  if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp10);
  int k = static_cast<int>(digits.size());
  int n = exp10 + 1;  // the value is 0.digits × 10^n
  if (k <= n && n <= 21) {
    out += digits;
    out.append(static_cast<size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out.append(digits, 0, static_cast<size_t>(n));
    out += '.';
    out.append(digits, static_cast<size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-n), '0');
    out += digits;
  } else {
    out += digits[0];
    if (k > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += n - 1 >= 0 ? '+' : '-';
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

const JsonValue* json_member(const JsonValue& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto& obj = value.get_ref<const JsonValue::object_t&>();
  for (const auto& kv : obj)
    if (kv.first == key) return &kv.second;
  return nullptr;
}

const std::string* json_string(const JsonValue& value, std::string_view key) {
  const JsonValue* member = json_member(value, key);
  if (member == nullptr || !member->is_string()) return nullptr;
  return &member->get_ref<const std::string&>();
}

std::optional<bool> json_bool(const JsonValue& value, std::string_view key) {
  const JsonValue* member = json_member(value, key);
  if (member == nullptr || !member->is_boolean()) return std::nullopt;
  return member->get<bool>();
}

std::optional<double> json_number(const JsonValue& value, std::string_view key) {
  const JsonValue* member = json_member(value, key);
  if (member == nullptr || !member->is_number()) return std::nullopt;
  return member->get<double>();
}

std::string js_to_string(const JsonValue* value) {
  if (value == nullptr) return "undefined";
  return js_to_string(*value);
}

std::string js_to_string(const JsonValue& value) {
  std::string out;
  append_js_string_of(out, value);
  return out;
}

std::string js_array_join(const JsonValue& array, std::string_view separator) {
  std::string out;
  if (array.is_array()) append_join(out, array, separator);
  return out;
}

bool js_truthy(const JsonValue* value) { return value != nullptr && js_truthy(*value); }

bool js_truthy(const JsonValue& value) {
  switch (value.type()) {
    case JsonValue::value_t::null:
    case JsonValue::value_t::discarded:
      return false;
    case JsonValue::value_t::boolean:
      return value.get<bool>();
    case JsonValue::value_t::number_integer:
    case JsonValue::value_t::number_unsigned:
    case JsonValue::value_t::number_float: {
      double d = as_double(value);
      return !(d == 0 || std::isnan(d));
    }
    case JsonValue::value_t::string:
      return !value.get_ref<const std::string&>().empty();
    case JsonValue::value_t::array:
    case JsonValue::value_t::object:
    case JsonValue::value_t::binary:
      return true;
  }
  return false;
}

bool is_array_index_key(std::string_view key) {
  if (key == "0") return true;
  if (key.empty() || key.size() > 10 || key[0] < '1' || key[0] > '9') return false;
  std::optional<uint64_t> v = parse_decimal(key);
  return v && *v < 4294967295ull;
}

std::optional<SemVer> parse_semver(std::string_view text) {
  std::string_view s = js_trim(text);
  if (size_t plus = s.find('+'); plus != std::string_view::npos) {
    if (!ident_chars(s.substr(plus + 1), /*allow_dot=*/true)) return std::nullopt;
    s = s.substr(0, plus);
  }
  std::string_view core = s;
  std::optional<std::string_view> pre;
  if (size_t dash = s.find('-'); dash != std::string_view::npos) {
    core = s.substr(0, dash);
    pre = s.substr(dash + 1);
  }
  std::vector<std::string_view> numbers = split(core, '.');
  if (numbers.size() != 3) return std::nullopt;
  double parts[3];
  for (size_t i = 0; i < 3; ++i) {
    if (!ascii_digits(numbers[i])) return std::nullopt;
    auto res = std::from_chars(numbers[i].data(), numbers[i].data() + numbers[i].size(), parts[i]);
    if (res.ec == std::errc::result_out_of_range) parts[i] = HUGE_VAL;  // as JavaScript's Number()
  }
  SemVer v;
  v.major = parts[0];
  v.minor = parts[1];
  v.patch = parts[2];
  if (pre) {
    for (std::string_view id : split(*pre, '.')) {
      if (!ident_chars(id, /*allow_dot=*/false)) return std::nullopt;
      v.pre_release.emplace_back(id);
    }
  }
  return v;
}

}  // namespace mossbank
