#include "terminal/osc.h"

#include "terminal/utf8.h"

namespace mossbank::term {

void set_title(Terminal& t, const std::string& text) {
  t.title = text;
  std::string safe;
  safe.reserve(text.size());
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* end = p + text.size();
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
      t.icon_name = text;
      break;
    case 1:
      t.icon_name = text;
      break;
    case 2:
      set_title(t, text);
      break;
    default:
      break;
  }
}

void dcs_request_status(Terminal&, const std::string&) {}

}  // namespace mossbank::term
