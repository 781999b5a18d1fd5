#include "screen/key_filter.h"

#include <algorithm>
#include <array>

#include "base/controls.h"
#include "base/utf8.h"
#include "screen/screen_pattern.h"

namespace mossbank::screen {

namespace {

// Every pattern here starts with ESC and reads only ASCII, except the
// string bodies of OSC, DCS and APC, which take any byte but a few controls.
// The pattern engine takes only valid UTF-8, so the patterns are run over a
// copy of the text in which every byte above 0x7F reads "x": each such class
// takes "x" exactly as it takes any non-ASCII character, no other class
// takes "x", and offsets stay those of the bytes.
constinit const ScreenPattern focus_report_pattern{R"(\x1b\[[IO])"};
constinit const ScreenPattern terminal_reply_pattern{
    R"(\x1b\[\??[0-9]+(?:;[0-9]+)*R|\x1b\[[?>][0-9;]*c|\x1b\[\??[0-9]+(?:;[0-9]+)*\$y|)"
    R"(\x1b\[\?[0-9]*u|\x1b\[\??[0-9]+(?:;[0-9]+)*n|\x1b\[[0-9]+(?:;[0-9]+)*t|)"
    R"(\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)|\x1bP[^\x1b]*\x1b\\|)"
    R"(\x1b_G(?:[iIp]=[0-9]+,)*[iIp]=[0-9]+;[^\x00-\x1f\x7f]*(?:\x07|\x1b\\)|)"
    R"(\x1b\[<[0-9]+;[0-9]+;[0-9]+[Mm])"};
constinit const ScreenPattern key_release_pattern{R"(\x1b\[[0-9:]*;[0-9]+:3(?:;[0-9:]*)?[u~A-Z])"};
constinit const ScreenPattern incomplete_escape_pattern{
    R"(\x1b(?:\[[\x30-\x3f]*[\x20-\x2f]*|\](?:[0-9]+(?:;[^\x07\x1b]*\x1b?)?)?|)"
    R"(P(?:(?:[>!]\||[01][$+]r)[^\x1b]*\x1b?|[>!]|[01][$+]?)?|)"
    R"(_(?:G(?:[iIp]=[0-9]+,)*(?:[iIp](?:=[0-9]*(?:;[^\x00-\x1f\x7f]*\x1b?)?)?)?)?)?$)"};
constinit const ScreenPattern win32_key_pattern{R"(\x1b\[([0-9;]*)_)"};
// Cursor movement counts as typing.
constinit const ScreenPattern cursor_key_pattern{R"(\x1b(?:[\[d;]*[A-DHF]|O[A-DHF]))"};

bool has_esc(std::string_view text) { return text.find(kEsc) != std::string_view::npos; }

// The text as the patterns read it (see above); views the text itself when
// it is all ASCII.
class PatternText {
 public:
  explicit PatternText(std::string_view text) : view_(text) {
    for (size_t k = 0; k < text.size(); ++k) {
      if (static_cast<unsigned char>(text[k]) > 0x7F) {
        mapped_.assign(text);
        for (size_t j = k; j < mapped_.size(); ++j) {
          if (static_cast<unsigned char>(mapped_[j]) > 0x7F) mapped_[j] = 'x';
        }
        view_ = mapped_;
        break;
      }
    }
  }
  PatternText(const PatternText&) = delete;
  PatternText& operator=(const PatternText&) = delete;
  std::string_view view() const { return view_; }

 private:
  std::string mapped_;
  std::string_view view_;
};

// Every match of `pattern` in `text` replaced by what `replace` appends for
// it (the match's bytes are given).
template <typename Replace>
void rewrite(const ScreenPattern& pattern, std::string& text, Replace replace) {
  if (!has_esc(text)) return;
  const PatternText pt(text);
  std::optional<Match> m = pattern.find(pt.view());
  if (!m) return;
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (; m; m = pattern.find(pt.view(), pos)) {
    out.append(text, pos, m->start() - pos);
    replace(out, std::string_view(text).substr(m->start(), m->end() - m->start()));
    pos = m->end();
    if (pos >= text.size()) break;
  }
  out.append(text, pos);
  text = std::move(out);
}

void remove_all(const ScreenPattern& pattern, std::string& text) {
  rewrite(pattern, text, [](std::string&, std::string_view) {});
}

// The byte length of the character at the start of `bytes`: a valid UTF-8
// sequence, or else one byte.
size_t char_length(std::string_view bytes) {
  if (static_cast<unsigned char>(bytes[0]) < 0x80) return 1;
  size_t n = utf8_sequence_length(bytes);
  return n == 0 ? 1 : n;
}

// Whether `bytes` has more than `limit` characters.
bool longer_than(std::string_view bytes, size_t limit) {
  if (bytes.size() <= limit) return false;
  size_t chars = 0;
  for (size_t pos = 0; pos < bytes.size(); pos += char_length(bytes.substr(pos))) {
    if (++chars > limit) return true;
  }
  return false;
}

// The number of bytes at the end of `text` that begin a UTF-8 character
// without finishing it (0 to 3).
size_t unfinished_utf8(std::string_view text) {
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto lead = static_cast<unsigned char>(text[text.size() - back]);
    if (lead >= 0x80 && lead < 0xC0) continue;  // a continuation byte: look further back
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (back >= need) return 0;
    if (back >= 2) {
      // The second byte's range excludes overlong forms, surrogates and
      // code points past U+10FFFF.
      const auto second = static_cast<unsigned char>(text[text.size() - back + 1]);
      const unsigned char lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
      const unsigned char hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
      if (second < lo || second > hi) return 0;
    }
    return back;
  }
  return 0;
}

// Cuts what must wait for the next chunk off the end of `text` and returns
// it: the start of an escape sequence of at most kMaxHeldBack characters,
// else an unfinished UTF-8 character.
std::string hold_back(std::string& text) {
  size_t cut = text.size();
  std::optional<Match> m;
  if (has_esc(text)) {
    const PatternText pt(text);
    m = incomplete_escape_pattern.find(pt.view());
  }
  if (m && !longer_than(std::string_view(text).substr(m->start()), kMaxHeldBack)) {
    cut = m->start();
  } else {
    cut = text.size() - unfinished_utf8(text);
  }
  std::string held = text.substr(cut);
  text.resize(cut);
  return held;
}

bool is_modifier_key(uint64_t virtual_key) {
  static constexpr std::array<uint64_t, 6> kModifiers = {16, 17, 18, 20, 91, 92};
  for (uint64_t m : kModifiers)
    if (m == virtual_key) return true;
  return false;
}

// A Windows-style key record "ESC [ vk ; scan ; char ; down ; ctrl ; repeat _"
// as the bytes of its key: nothing for a key-up or a lone modifier.
void append_record_key(std::string& out, std::string_view record) {
  std::string_view params = record.substr(2, record.size() - 3);
  std::array<uint64_t, 4> values{};
  size_t count = 0;
  while (true) {
    const size_t semi = params.find(';');
    const std::string_view p = params.substr(0, semi);
    uint64_t v = 0;
    for (char d : p) v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(d - '0'), 1u << 24);
    if (count < values.size()) values[count] = v;
    ++count;
    if (semi == std::string_view::npos) break;
    params.remove_prefix(semi + 1);
  }
  if (count >= 3) {
    if (count >= 4 && values[3] == 0) return;  // key up
    const uint64_t unit = values[2];
    if (unit != 0) {
      if (unit > 0xFFFF) {
        out += '\0';
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        append_utf8(out, U'\uFFFD');
      } else {
        append_utf8(out, static_cast<char32_t>(unit));
      }
      return;
    }
  }
  if (!is_modifier_key(values[0])) out += '\0';
}

// The screen test's answer for the screen as it is now: the kept one while
// the generation has not moved.
bool ask(KeptAnswer& kept, const KeyScreen& screen, const std::function<bool()>& test) {
  if (!test) return false;
  std::optional<uint64_t> generation;
  if (screen.generation) generation = screen.generation();
  if (generation && kept.generation == generation) return kept.answer;
  kept.answer = test();
  kept.generation = generation;
  return kept.answer;
}

// The line count of what was typed; true when Enter submitted a line.
bool count_typing(KeyFilterState& state, std::string_view bytes, bool lone_esc) {
  std::string counted(bytes);
  rewrite(cursor_key_pattern, counted, [](std::string& out, std::string_view) { out += ' '; });
  std::string_view text = counted;
  if (lone_esc) {
    if (state.typed_count > 0) state.dirty = true;
    text.remove_prefix(1);
  }
  if ((text == "\x1b" || text == "\x1b[27u" || text == "\x1b[27;1u") && state.typed_count == 0 &&
      !state.dirty) {
    return false;  // Esc on an untouched line
  }
  if (text.size() >= 2 && text[0] == kEsc &&
      (text[1] == '\r' || text[1] == '\n' || text[1] == kCtrlC)) {
    text.remove_prefix(1);
  }
  bool submitted = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t n = char_length(text.substr(pos));
    const auto c = static_cast<unsigned char>(text[pos]);
    pos += n;
    if (n > 1 || (c >= 0x20 && c != kDel)) {
      ++state.typed_count;
      continue;
    }
    switch (c) {
      case kCtrlC:
        state.typed_count = 0;
        state.dirty = false;
        break;
      case kBs:
      case kDel:
        if (state.typed_count > 0) --state.typed_count;
        break;
      case '\r':
      case '\n':
        if (state.typed_count > 0 || state.dirty) submitted = true;
        state.typed_count = 0;
        state.dirty = false;
        break;
      default:
        state.dirty = true;
    }
  }
  return submitted;
}

// What a call passes on: the filtered text, after the Esc key when a held
// Esc went as one.
TakenKeys take(KeyFilterState& state, std::string filtered, bool lone_esc, bool pending_changed,
               KeyClock::time_point now) {
  TakenKeys taken;
  taken.lone_esc = lone_esc;
  if (lone_esc) {
    taken.bytes.reserve(filtered.size() + 1);
    taken.bytes += kEsc;
    taken.bytes += filtered;
  } else {
    taken.bytes = std::move(filtered);
  }
  if (taken.bytes.empty()) {
    if (pending_changed) ++state.input_serial;
    return taken;
  }
  ++state.input_serial;
  state.last_input = now;
  return taken;
}

FilteredKeys counted(KeyFilterState& state, TakenKeys taken, const KeyScreen& screen) {
  const bool submitted = count_input_keys(state, taken, screen);
  return FilteredKeys{std::move(taken.bytes), submitted};
}

}  // namespace

TakenKeys take_input_keys(KeyFilterState& state, std::string_view chunk, const KeyScreen& screen,
                          KeyClock::time_point now) {
  if (state.dirty && state.pending.empty() && state.typed_count == 0 &&
      ask(state.command_center, screen, screen.command_center_open)) {
    state.dirty = false;
  }

  const bool esc_was_held = state.pending == "\x1b";
  std::string text;
  bool lone_esc = false;
  if (esc_was_held && !chunk.empty()) {
    const char c = chunk[0];
    if (c == '[' || c == ']' || c == 'P' || c == '_') {
      text.reserve(chunk.size() + 1);
      text += kEsc;
      text += chunk;
    } else {
      text = chunk;  // the held Esc was the Esc key
      lone_esc = true;
    }
  } else {
    text.reserve(state.pending.size() + chunk.size());
    text += state.pending;
    text += chunk;
  }
  state.lone_esc = lone_esc;

  std::string held = hold_back(text);
  const bool pending_changed = held != state.pending;
  if (held == "\x1b" && !(esc_was_held && chunk.empty())) state.esc_held_since = now;
  state.pending = std::move(held);

  if (has_esc(text)) {
    // Replies first, then key records: a key that a record stands for is
    // never taken for part of a reply.
    remove_all(focus_report_pattern, text);
    remove_all(terminal_reply_pattern, text);
    remove_all(key_release_pattern, text);
    rewrite(win32_key_pattern, text, append_record_key);
  }
  return take(state, std::move(text), lone_esc, pending_changed, now);
}

bool count_input_keys(KeyFilterState& state, const TakenKeys& taken, const KeyScreen& screen) {
  if (taken.bytes.empty()) return false;
  // Keys that answer a question are not typing.
  if (ask(state.approval, screen, screen.awaiting_approval)) return false;
  return count_typing(state, taken.bytes, taken.lone_esc);
}

FilteredKeys filter_input_keys(KeyFilterState& state, std::string_view chunk,
                               const KeyScreen& screen, KeyClock::time_point now) {
  return counted(state, take_input_keys(state, chunk, screen, now), screen);
}

std::optional<KeyClock::time_point> lone_esc_deadline(const KeyFilterState& state) {
  if (state.pending != "\x1b") return std::nullopt;
  return state.esc_held_since + kLoneEscWait;
}

FilteredKeys release_lone_esc(KeyFilterState& state, const KeyScreen& screen,
                              KeyClock::time_point now) {
  const std::optional<KeyClock::time_point> deadline = lone_esc_deadline(state);
  if (!deadline || now < *deadline) return {};
  state.pending.clear();
  state.lone_esc = true;
  return counted(state, take(state, std::string(), true, true, now), screen);
}

}  // namespace mossbank::screen
