#include "mcp/tools.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "base/text.h"
#include "base/utf8.h"
#include "daemon/daemon_api.h"
#include "mcp/mcp.h"
#include "mcp/texts.h"

namespace mossbank::mcp {

namespace {

constexpr size_t kInboxShown = 30;
constexpr double kMaxTimeMs = 8.64e15;  // the range of a JavaScript Date

bool present_not_null(const JsonValue* v) { return v != nullptr && !v->is_null(); }

std::string plural(size_t n, std::string_view word) {
  std::string out = std::to_string(n);
  out += ' ';
  out += word;
  if (n != 1) out += 's';
  return out;
}

// Days since 1970-01-01 → (year, month, day), proleptic Gregorian.
void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

// The text trimmed of Unicode white space, then cut to `max_chars` code points.
std::string trimmed_prefix(std::string_view text, size_t max_chars) {
  std::string_view inner = trim_unicode_space(text);
  size_t pos = 0;
  for (size_t n = 0; n < max_chars && pos < inner.size(); ++n) next_code_point(inner, pos);
  return std::string(inner.substr(0, pos));
}

bool is_string_value(const JsonValue* v, std::string_view s) {
  return v != nullptr && v->is_string() && v->get_ref<const std::string&>() == s;
}

// Whether the lower-cased text begins with "live updates for ". Only ASCII
// letters lower-case into this ASCII prefix (U+0130 becomes "i" and a
// combining dot, which can't match), so comparing ASCII bytes is exact.
bool is_live_updates(std::string_view what) {
  constexpr std::string_view prefix = "live updates for ";
  if (what.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(what[i]);
    if (c >= 0x80) return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(prefix[i])) return false;
  }
  return true;
}

enum class Bucket { working, asking, blocked, done, resting, uncounted, off };

// The buckets the status counts, in the order its text names them: the
// structured field and the words after the count.
struct CountedBucket {
  Bucket bucket;
  std::string_view key;
  std::string_view words;
};
constexpr CountedBucket kCountedBuckets[] = {
    {Bucket::working, "working", " working"}, {Bucket::asking, "asking", " asking for you"},
    {Bucket::blocked, "blocked", " blocked"}, {Bucket::done, "done", " done"},
    {Bucket::resting, "resting", " resting"},
};

// A done resident's background work: working when anything but "live
// updates" monitors runs; none to go on with the other rules.
std::optional<Bucket> background_bucket(const JsonValue& background) {
  if (background.is_null()) return std::nullopt;
  if (!background.is_array()) return Bucket::off;
  for (const JsonValue& item : background) {
    if (item.is_null()) return Bucket::off;
    if (!is_string_value(json_member(item, "kind"), "monitor")) return Bucket::working;
    const JsonValue* what = json_member(item, "what");
    if (what == nullptr || what->is_null()) return Bucket::working;
    if (!what->is_string()) return Bucket::off;
    if (is_live_updates(what->get_ref<const std::string&>())) continue;
    return Bucket::working;
  }
  return std::nullopt;
}

Bucket resident_bucket(const JsonValue& r) {
  if (r.is_null()) return Bucket::off;
  const JsonValue* dot = json_member(r, "dotState");
  if (is_string_value(dot, "working") &&
      is_string_value(json_member(r, "workingMode"), "monitoring"))
    return Bucket::working;
  if (is_string_value(dot, "done") && !js_truthy(json_member(r, "exited")) &&
      !js_truthy(json_member(r, "ended"))) {
    if (const JsonValue* background = json_member(r, "background")) {
      if (std::optional<Bucket> b = background_bucket(*background)) return *b;
    }
  }
  if (dot == nullptr || !dot->is_string()) return Bucket::uncounted;
  const std::string& state = dot->get_ref<const std::string&>();
  bool unseen = js_truthy(json_member(r, "unseen"));
  if (state == "done") return unseen ? Bucket::done : Bucket::resting;
  if (state == "blocked") return !unseen || attention_seen(r) ? Bucket::resting : Bucket::blocked;
  if (state == "waiting") return attention_seen(r) ? Bucket::resting : Bucket::asking;
  if (state == "working" || state == "monitoring") return Bucket::working;
  if (state == "idle") return Bucket::resting;
  return Bucket::uncounted;
}

}  // namespace

JsonValue notify_body(const JsonValue& arguments) {
  JsonValue body = JsonValue::object();
  const JsonValue* source = json_member(arguments, "source");
  body["source"] = present_not_null(source) ? *source : JsonValue("custom");
  const JsonValue* sender = json_member(arguments, "sender");
  JsonValue name = JsonValue::object();
  name["name"] = sender != nullptr && sender->is_string() ? *sender : JsonValue("");
  body["sender"] = std::move(name);
  for (const char* key : {"text", "channel", "url"}) {
    if (const JsonValue* v = json_member(arguments, key)) body[key] = *v;
  }
  return body;
}

ToolOutcome notify(const McpServerContext& context, const JsonValue& arguments) {
  DaemonAnswer answer = context.daemon->post(std::string(kInboxPath), notify_body(arguments));
  if (!answer) return std::nullopt;
  if (answer->status == 200) {
    JsonValue structured = JsonValue::object();
    const JsonValue* message = json_member(answer->body, "message");
    const JsonValue* id =
        message != nullptr && message->is_object() ? json_member(*message, "id") : nullptr;
    structured["id"] = present_not_null(id) ? *id : JsonValue(nullptr);
    return text_result(std::string(kNotifyAccepted), &structured);
  }
  if (answer->status == kStatusInboxBusy) return error_result(std::string(kNotifyThrottled));
  return error_result(std::string(kNotifyRefused) + refusal_text(answer->body));
}

std::string refusal_text(const JsonValue& body) {
  const JsonValue* problems = json_member(body, "problems");
  if (problems != nullptr && problems->is_array()) return js_array_join(*problems, "; ");
  const JsonValue* error = json_member(body, "error");
  if (present_not_null(error)) return js_to_string(*error);
  return "refused";
}

std::string inbox_date_text(int64_t ms) {
  constexpr int64_t kDayMs = 86400000;
  int64_t days = ms / kDayMs;
  int64_t rest = ms % kDayMs;
  if (rest < 0) {
    rest += kDayMs;
    --days;
  }
  int64_t year;
  unsigned month, day;
  civil_from_days(days, year, month, day);
  unsigned hour = static_cast<unsigned>(rest / 3600000);
  unsigned minute = static_cast<unsigned>(rest / 60000 % 60);
  char buf[48];
  if (year >= 0 && year <= 9999) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u", static_cast<long long>(year),
                  month, day, hour, minute);
  } else {
    std::snprintf(buf, sizeof buf, "%c%06lld-%02u-%02u %02u:%02u", year < 0 ? '-' : '+',
                  static_cast<long long>(year < 0 ? -year : year), month, day, hour, minute);
  }
  return std::string(buf).substr(0, 16);
}

std::optional<std::string> format_inbox_message(const JsonValue& m) {
  const JsonValue* at = json_member(m, "at");
  if (at == nullptr) return std::nullopt;
  double t;
  if (at->is_null()) {
    t = 0;
  } else if (at->is_boolean()) {
    t = at->get<bool>() ? 1 : 0;
  } else if (at->is_number()) {
    t = at->get<double>();
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(t) || std::fabs(t) > kMaxTimeMs) return std::nullopt;
  const JsonValue* sender = json_member(m, "sender");
  if (!present_not_null(sender)) return std::nullopt;

  std::string line = js_truthy(json_member(m, "read")) ? "  " : "* ";
  line += inbox_date_text(static_cast<int64_t>(std::trunc(t))) + " \u00b7 " +
          js_to_string(json_member(m, "source"));
  if (const JsonValue* channel = json_member(m, "channel"); js_truthy(channel))
    line += " " + js_to_string(*channel);
  line += " \u00b7 " + js_to_string(json_member(*sender, "name")) + ": " +
          js_to_string(json_member(m, "text"));
  if (const JsonValue* url = json_member(m, "url"); js_truthy(url))
    line += " (" + js_to_string(*url) + ")";
  return line;
}

ToolOutcome inbox_list(const McpServerContext& context, const JsonValue& arguments) {
  const JsonValue* unread = json_member(arguments, "unread");
  bool unread_only = unread != nullptr && unread->is_boolean() && unread->get<bool>();
  std::string path(kInboxPath);
  if (unread_only) path += "?unread=1";
  DaemonAnswer answer = context.daemon->get(path);
  if (!answer) return std::nullopt;
  const JsonValue* messages = json_member(answer->body, "messages");
  if (answer->status != 200 || messages == nullptr || !messages->is_array())
    return error_result(std::string(kInboxUnreadable) + refusal_text(answer->body));

  size_t n = messages->size();
  size_t k = std::min(n, kInboxShown);
  JsonValue shown = JsonValue::array();
  std::string text;
  if (n == 0) {
    text = unread_only ? kInboxNoUnread : kInboxEmpty;
  } else {
    text = plural(n, "message") + " (* = unread):";
    for (size_t i = 0; i < k; ++i) {
      std::optional<std::string> line = format_inbox_message((*messages)[i]);
      if (!line) return std::nullopt;
      text += '\n';
      text += *line;
      shown.push_back((*messages)[i]);
    }
    if (n > kInboxShown) text += "\n\u2026and " + std::to_string(n - kInboxShown) + " older.";
  }
  JsonValue structured = JsonValue::object();
  structured["messages"] = std::move(shown);
  return text_result(text, &structured);
}

bool attention_seen(const JsonValue& r) {
  if (!r.is_object() || js_truthy(json_member(r, "exited"))) return false;
  const JsonValue* seen = json_member(r, "attentionSeen");
  if (seen == nullptr || !seen->is_string() || seen->get_ref<const std::string&>().empty())
    return false;
  const std::string& s = seen->get_ref<const std::string&>();
  const JsonValue* dot = json_member(r, "dotState");

  if (is_string_value(dot, "blocked")) {
    const JsonValue* v = json_member(r, "finishedAt");
    if (!present_not_null(v)) v = json_member(r, "stateChangedAt");
    if (v == nullptr) return false;
    return s == "error:" + js_to_string(*v);
  }
  if (!is_string_value(dot, "waiting")) return false;

  const JsonValue* ask = json_member(r, "ask");
  const JsonValue* id = ask != nullptr && ask->is_object() ? json_member(*ask, "id") : nullptr;
  if (id != nullptr && id->is_string() && !id->get_ref<const std::string&>().empty()) {
    std::string key = "ask:" + id->get<std::string>();
    return s == key || s.starts_with(key + "\n");
  }
  std::string raw;
  const JsonValue* ask_summary = json_member(r, "askSummary");
  if (ask_summary != nullptr && ask_summary->is_string()) {
    raw = ask_summary->get<std::string>();
  } else if (ask != nullptr && ask->is_object()) {
    const JsonValue* summary = json_member(*ask, "summary");
    if (summary != nullptr && summary->is_string()) raw = summary->get<std::string>();
  }
  std::string summary = trimmed_prefix(raw, 300);
  if (s == "wait:" + summary) return true;
  if (!s.starts_with("ask:")) return false;
  std::string_view rest = std::string_view(s).substr(4);
  size_t nl = rest.find('\n');
  if (nl != std::string_view::npos) return rest.substr(nl + 1) == summary;
  return summary.empty();
}

ToolOutcome village_status(const McpServerContext& context, const JsonValue&) {
  DaemonAnswer answer = context.daemon->get(std::string(kStatePath));
  if (!answer) return std::nullopt;
  const JsonValue* residents = json_member(answer->body, "residents");
  if (answer->status != 200 || residents == nullptr || !residents->is_array())
    return error_result(std::string(kStatusUnreadable));

  std::array<size_t, std::size(kCountedBuckets)> counts{};
  for (const JsonValue& r : *residents) {
    const Bucket bucket = resident_bucket(r);
    if (bucket == Bucket::off) return std::nullopt;
    for (size_t k = 0; k < counts.size(); ++k) counts[k] += kCountedBuckets[k].bucket == bucket;
  }
  const JsonValue* inbox = json_member(answer->body, "inbox");
  JsonValue default_inbox = {{"unread", 0}, {"total", 0}};
  if (!present_not_null(inbox)) inbox = &default_inbox;
  const JsonValue* unread = json_member(*inbox, "unread");

  size_t n = residents->size();
  std::string text = plural(n, "resident") + ": ";
  JsonValue structured = JsonValue::object();
  structured["residents"] = n;
  for (size_t k = 0; k < counts.size(); ++k) {
    if (k) text += ", ";
    text += std::to_string(counts[k]) + std::string(kCountedBuckets[k].words);
    structured[std::string(kCountedBuckets[k].key)] = counts[k];
  }
  text += ". Inbox: " + js_to_string(unread) + " unread.";
  if (unread != nullptr) structured["unread"] = *unread;
  return text_result(text, &structured);
}

ToolResult todo_off() { return error_result(std::string(kTodoOff)); }

}  // namespace mossbank::mcp
