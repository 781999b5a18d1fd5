#include "terminal/utf8.h"

#include <cstring>

namespace mossbank {

namespace {

// Length of the longest prefix that is valid UTF-8, and whether what stops
// it is an incomplete sequence at the very end.
size_t valid_prefix(const uint8_t* begin, const uint8_t* end, bool& incomplete_tail) {
  const uint8_t* p = begin;
  incomplete_tail = false;
  while (p < end) {
    // Eight ASCII bytes at a time.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ull) break;
      p += 8;
    }
    if (p == end) break;
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const uint8_t* q = p;
    uint32_t cp = term::decode_utf8(q, end);
    if (cp == term::kIncomplete) {
      incomplete_tail = true;
      break;
    }
    if (cp == term::kReplacement && !(q - p == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD))
      break;
    p = q;
  }
  return static_cast<size_t>(p - begin);
}

}  // namespace

std::string_view Utf8Repair::feed(std::string_view bytes) {
  const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* end = in + bytes.size();
  if (tail_.empty()) {
    bool incomplete = false;
    size_t n = valid_prefix(in, end, incomplete);
    if (n == bytes.size()) return bytes;
    if (incomplete) {
      tail_.assign(bytes.substr(n));
      return bytes.substr(0, n);
    }
    out_.assign(bytes.substr(0, n));
    in += n;
  } else {
    out_.clear();
    // Complete the carried sequence with as few bytes as it takes.
    std::string joined = tail_;
    size_t take = std::min<size_t>(bytes.size(), 4 - tail_.size());
    joined.append(bytes.substr(0, take));
    const auto* j = reinterpret_cast<const uint8_t*>(joined.data());
    const uint8_t* jp = j;
    uint32_t cp = term::decode_utf8(jp, j + joined.size());
    if (cp == term::kIncomplete) {
      tail_ = joined;  // still incomplete: every byte was consumed
      return {};
    }
    size_t used = static_cast<size_t>(jp - j);
    if (cp == term::kReplacement && !(used == 3 && joined.compare(0, 3, "\xEF\xBF\xBD") == 0)) {
      out_.append("\xEF\xBF\xBD");
    } else {
      out_.append(joined, 0, used);
    }
    // The carried bytes are a valid prefix, so the sequence (complete or
    // not) always reaches into the new read.
    size_t consumed = used - tail_.size();
    tail_.clear();
    in += consumed;
  }
  while (in < end) {
    bool incomplete = false;
    size_t n = valid_prefix(in, end, incomplete);
    out_.append(reinterpret_cast<const char*>(in), n);
    in += n;
    if (in == end) break;
    if (incomplete) {
      tail_.assign(reinterpret_cast<const char*>(in), static_cast<size_t>(end - in));
      break;
    }
    const uint8_t* q = in;
    term::decode_utf8(q, end);
    out_.append("\xEF\xBF\xBD");
    in = q;
  }
  return out_;
}

}  // namespace mossbank
