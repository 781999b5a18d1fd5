// Fuzzes the input key filter: fed whole or cut into chunks anywhere, the
// same input must give the same bytes and leave the same held-back text.
//
// That holds for what a terminal really sends, so the fuzz input is read as
// a program that builds such input: typed text (valid and invalid UTF-8,
// control keys), the Esc key, Alt keys, cursor, function and extended keys,
// key releases, Windows key records, focus reports and the terminal's
// replies, each sequence well short of the 1024 characters the filter holds
// back. (An Esc key followed by typed "]" or "P" is left out: "ESC ] a"
// typed by hand reads as the start of a reply only once the reply is
// complete, so where it is cut matters.) A first byte with its top bit set
// instead feeds the raw bytes, looking only for crashes and for a held-back
// text longer than the limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "screen/key_filter.h"

namespace {

using namespace mossbank::screen;

void check(bool ok) {
  if (!ok) std::abort();
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  unsigned number(unsigned below) { return below == 0 ? 0 : byte() % below; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

std::string digits(Reader& r) {
  return std::to_string(r.byte() % 4 == 0 ? r.byte() * 37 : r.byte());
}

// A body for an OSC, DCS or APC string: no byte that `excluded` names.
std::string body(Reader& r, bool (*excluded)(unsigned char)) {
  std::string out;
  const unsigned n = r.number(40);
  for (unsigned k = 0; k < n; ++k) {
    auto c = static_cast<unsigned char>(r.byte());
    if (excluded(c)) c = 'x';
    out += static_cast<char>(c);
  }
  return out;
}

std::string piece(Reader& r) {
  static const char* const kFinals = "ABCDHF~u";
  switch (r.number(17)) {
    case 0: {  // typed text
      std::string out;
      const unsigned n = 1 + r.number(8);
      for (unsigned k = 0; k < n; ++k) out += static_cast<char>(0x20 + r.number(0x5F));
      if (out[0] == ']' || out[0] == 'P') out[0] = 'a';
      return out;
    }
    case 1: {  // a character beyond ASCII
      char32_t cp = 0x80 + (static_cast<char32_t>(r.byte()) << 8 | r.byte()) * 17 % 0x10FF80;
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
      std::string out;
      mossbank::append_utf8(out, cp);
      return out;
    }
    case 2:
      return std::string(1, static_cast<char>(0x80 | r.byte()));
    case 3: {
      static const char kControls[] = {'\r', '\n', '\x03', '\x7f', '\x08',
                                       '\t', '\0', '\x07', '\x15'};
      return std::string(1, kControls[r.number(sizeof kControls)]);
    }
    case 4:
      return "\x1b";
    case 5: {
      char c = static_cast<char>(0x20 + r.number(0x5F));
      if (c == '[' || c == ']' || c == 'P' || c == '_' || c == 'O') c = 'b';
      return std::string("\x1b") + c;
    }
    case 6: {
      std::string out = "\x1b[";
      if (r.number(2)) out += digits(r);
      if (r.number(2)) out += ";" + digits(r);
      return out + kFinals[r.number(8)];
    }
    case 7:
      return std::string("\x1bO") + "ABCDHF"[r.number(6)];
    case 8:
      return "\x1b[" + digits(r) + ";" + digits(r) + ":3" + "u~AZ"[r.number(4)];
    case 9: {
      static const unsigned kChars[] = {0, 13, 27, 97, 233, 0xD83D, 0x10000, 0x20AC};
      static const unsigned kModifiers[] = {16, 17, 18, 20, 91, 92};
      std::string out = "\x1b[";
      const unsigned params = r.number(7);
      for (unsigned k = 0; k < params; ++k) {
        if (k) out += ';';
        if (k == 2) {
          out += std::to_string(kChars[r.number(8)]);
        } else if (k == 0 && r.number(2)) {
          out += std::to_string(kModifiers[r.number(6)]);
        } else {
          out += std::to_string(r.number(3));
        }
      }
      return out + "_";
    }
    case 10:
      return r.number(2) ? "\x1b[I" : "\x1b[O";
    case 11: {
      switch (r.number(7)) {
        case 0:
          return "\x1b[" + digits(r) + ";" + digits(r) + "R";
        case 1:
          return "\x1b[?" + digits(r) + ";" + digits(r) + "c";
        case 2:
          return "\x1b[>" + digits(r) + ";" + digits(r) + "c";
        case 3:
          return "\x1b[?" + digits(r) + ";" + digits(r) + "$y";
        case 4:
          return "\x1b[?" + digits(r) + "u";
        case 5:
          return "\x1b[" + digits(r) + "n";
        default:
          return "\x1b[" + digits(r) + ";" + digits(r) + ";" + digits(r) + "t";
      }
    }
    case 12:
      return "\x1b]" + digits(r) + ";" +
             body(r, [](unsigned char c) { return c == 0x07 || c == 0x1b; }) +
             (r.number(2) ? "\x07" : "\x1b\\");
    case 13: {
      static const char* const kStarts[] = {">|", "!|", "1$r", "0$r", "1+r", "0+r"};
      return std::string("\x1bP") + kStarts[r.number(6)] +
             body(r, [](unsigned char c) { return c == 0x1b; }) + "\x1b\\";
    }
    case 14: {
      std::string out = "\x1b_G";
      const unsigned more = r.number(3);
      for (unsigned k = 0; k < more; ++k)
        out += std::string(1, "iIp"[r.number(3)]) + "=" + digits(r) + ",";
      out += std::string(1, "iIp"[r.number(3)]) + "=" + digits(r) + ";";
      out += body(r, [](unsigned char c) { return c < 0x20 || c == 0x7f; });
      return out + (r.number(2) ? "\x07" : "\x1b\\");
    }
    case 15:
      return "\x1b[<" + digits(r) + ";" + digits(r) + ";" + digits(r) + (r.number(2) ? "M" : "m");
    default:
      return "\x1b[200~" + body(r, [](unsigned char c) { return c == 0x1b; }) + "\x1b[201~";
  }
}

struct Fed {
  std::string bytes;
  std::string pending;
};

const KeyScreen kScreen{[] { return uint64_t{1}; }, [] { return false; }, [] { return false; }};

Fed feed(std::string_view input, const std::vector<size_t>& cuts) {
  KeyFilterState state;
  Fed fed;
  size_t from = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const size_t to = k < cuts.size() ? cuts[k] : input.size();
    fed.bytes += filter_input_keys(state, input.substr(from, to - from), kScreen, {}).bytes;
    from = to;
    check(state.pending.size() <= 4 * kMaxHeldBack);
  }
  fed.pending = state.pending;
  return fed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Reader r(data + 1, size - 1);
  if (data[0] & 0x80) {
    std::string_view raw(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<size_t> cuts;
    for (size_t k = 1; k < raw.size(); k += 1 + data[0] % 7) cuts.push_back(k);
    feed(raw, {});
    feed(raw, cuts);
    return 0;
  }

  std::string input;
  std::vector<size_t> marks;  // where the program also asks for a cut
  while (!r.done() && input.size() < 1024) {
    input += piece(r);
    if (r.number(3) == 0) marks.push_back(input.size() - r.number(4) % (input.size() + 1));
  }
  const Fed whole = feed(input, {});

  // One cut at every position of a short input; at 32 positions of a
  // longer one.
  const size_t step = input.size() <= 160 ? 1 : input.size() / 32 + 1;
  for (size_t cut = data[0] % step; cut <= input.size(); cut += step) {
    const Fed split = feed(input, {cut});
    check(split.bytes == whole.bytes && split.pending == whole.pending);
  }
  if (input.size() <= 256) {
    std::vector<size_t> every_byte;
    for (size_t k = 1; k < input.size(); ++k) every_byte.push_back(k);
    check(feed(input, every_byte).bytes == whole.bytes);
  }

  // Chunks of 1 to 64 bytes, as a terminal's reads come.
  std::vector<size_t> cuts;
  uint32_t seed = data[0];
  for (size_t at = 0;;) {
    seed = seed * 1103515245u + 12345u;
    at += 1 + (seed >> 16) % 64;
    if (at >= input.size()) break;
    cuts.push_back(at);
  }
  std::sort(marks.begin(), marks.end());
  check(feed(input, cuts).bytes == whole.bytes);
  check(feed(input, marks).bytes == whole.bytes);
  return 0;
}
