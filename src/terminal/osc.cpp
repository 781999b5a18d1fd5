#include "terminal/osc.h"

#include <string_view>

#include "base/text.h"
#include "terminal/utf8.h"

namespace mossbank::term {

namespace {

constexpr size_t kMaxTitleBytes = 4096;
constexpr size_t kMaxLinkPartBytes = 8192;
constexpr size_t kMaxLinks = 256;

// The longest prefix of at most `limit` bytes that ends on a character
// boundary.
std::string_view cut(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

void set_pen_link(Terminal& t, uint32_t id) {
  t.pen.link = id;
  if (id != 0 || underline_style(t.pen.underline) != 0) {
    t.pen.bg |= kHasExtras;
  } else {
    t.pen.bg &= ~kHasExtras;
  }
}

// A new link id; the counter skips 0, which never means a link.
uint32_t next_link_id(Terminal& t) {
  if (++t.link_counter == 0) t.link_counter = 1;
  return t.link_counter;
}

uint32_t link_id_for(Terminal& t, std::string key) {
  auto it = t.hyperlinks.find(key);
  if (it != t.hyperlinks.end()) return it->second;
  uint32_t id;
  if (t.hyperlinks.size() >= kMaxLinks && !t.hyperlink_order.empty()) {
    // Full: the oldest entry goes and its id is reused.
    auto oldest = t.hyperlinks.find(t.hyperlink_order.front());
    id = oldest != t.hyperlinks.end() ? oldest->second : next_link_id(t);
    if (oldest != t.hyperlinks.end()) t.hyperlinks.erase(oldest);
    t.hyperlink_order.pop_front();
  } else {
    id = next_link_id(t);
  }
  t.hyperlink_order.push_back(key);
  t.hyperlinks.emplace(std::move(key), id);
  return id;
}

void hyperlink(Terminal& t, std::string_view text) {
  size_t semi = text.find(';');
  if (semi == std::string_view::npos) return;
  std::string_view params = trim_unicode_space(text.substr(0, semi));
  std::string_view uri = cut(text.substr(semi + 1), kMaxLinkPartBytes);
  if (uri.empty()) {
    if (params.empty()) set_pen_link(t, 0);
    return;
  }
  std::optional<std::string_view> id_value;
  for (size_t at = 0; at <= params.size();) {
    size_t colon = params.find(':', at);
    std::string_view part =
        params.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
    if (part.rfind("id=", 0) == 0) {
      id_value = part.substr(3);
      break;
    }
    if (colon == std::string_view::npos) break;
    at = colon + 1;
  }
  uint32_t id;
  if (id_value && !id_value->empty()) {
    std::string key(cut(*id_value, kMaxLinkPartBytes));
    key += ";;";
    key += uri;
    id = link_id_for(t, std::move(key));
  } else {
    id = next_link_id(t);
  }
  set_pen_link(t, id);
}

}  // namespace

void set_title(Terminal& t, const std::string& text) {
  std::string_view kept = cut(text, kMaxTitleBytes);
  t.title.assign(kept);
  std::string safe;
  safe.reserve(kept.size());
  const auto* p = reinterpret_cast<const uint8_t*>(kept.data());
  const uint8_t* end = p + kept.size();
  while (p < end) {
    const uint8_t* q = p;
    uint32_t cp = decode_utf8(q, end);
    if (cp == kIncomplete) break;
    if (cp >= 32 && !(cp >= 127 && cp <= 159)) safe.append(reinterpret_cast<const char*>(p), q - p);
    p = q;
  }
  t.presentation.safe_title = std::move(safe);
}

void osc_dispatch(Terminal& t, int32_t number, const std::string& text) {
  switch (number) {
    case 0:
      set_title(t, text);
      t.icon_name.assign(cut(text, kMaxTitleBytes));
      break;
    case 1:
      t.icon_name.assign(cut(text, kMaxTitleBytes));
      break;
    case 2:
      set_title(t, text);
      break;
    case 8:
      hyperlink(t, text);
      break;
    default:
      break;
  }
}

void dcs_request_status(Terminal& t, const std::string& text) {
  if (!t.replies) return;
  std::string answer;
  const Buffer& b = t.active();
  if (text == "m") {
    answer = "1$r0m";
  } else if (text == "r") {
    answer =
        "1$r" + std::to_string(b.region_top + 1) + ";" + std::to_string(b.region_bottom + 1) + "r";
  } else if (text == "\"q") {
    answer = std::string("1$r") + ((t.pen.bg & kProtected) ? "1" : "0") + "\"q";
  } else if (text == "\"p") {
    answer = "1$r61;1\"p";
  } else if (text == " q") {
    answer = std::string("1$r") + (t.modes.cursor_blink ? "1" : "2") + " q";
  } else {
    answer = "0$r";
  }
  *t.replies += "\x1bP" + answer + "\x1b\\";
}

}  // namespace mossbank::term
