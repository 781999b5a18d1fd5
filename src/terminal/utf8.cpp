#include "terminal/utf8.h"

#include <cstddef>
#include <cstring>

#include "base/utf8.h"

namespace mossbank::term {

uint32_t decode_utf8_slow(const uint8_t*& p, const uint8_t* end) {
  const uint8_t b0 = *p;
  const Utf8Lead lead = utf8_lead(b0);
  if (lead.length < 2) {
    ++p;
    return kReplacement;
  }
  uint32_t cp = utf8_lead_bits(b0, lead.length);
  uint8_t lo = lead.lo, hi = lead.hi;
  const uint8_t* q = p + 1;
  for (uint32_t k = 1; k < lead.length; ++k, ++q) {
    if (q == end) return kIncomplete;
    uint8_t b = *q;
    if (b < lo || b > hi) {
      p = q;
      return kReplacement;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = cp << 6 | (b & 0x3F);
  }
  p = q;
  return cp;
}

namespace {

// Length of the longest prefix that is valid UTF-8, and whether what stops
// it is an incomplete sequence at the very end.
size_t valid_prefix(const uint8_t* begin, const uint8_t* end, bool& incomplete_tail) {
  const uint8_t* p = begin;
  incomplete_tail = false;
  while (p < end) {
    const uint8_t b0 = *p;
    if (b0 < 0x80) {
      ++p;
      // Sixteen ASCII bytes at a time inside ASCII text.
      if (p < end && *p < 0x80) {
        while (end - p >= 16) {
          uint64_t a, b;
          std::memcpy(&a, p, 8);
          std::memcpy(&b, p + 8, 8);
          if ((a | b) & 0x8080808080808080ull) break;
          p += 16;
        }
      }
      continue;
    }
    const ptrdiff_t left = end - p;
    if (b0 >= 0xE1 && b0 <= 0xEC && left >= 3) {
      if ((p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) break;
      p += 3;
      continue;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF && left >= 2) {
      if ((p[1] & 0xC0) != 0x80) break;
      p += 2;
      continue;
    }
    // The rest by the general rules: three-byte sequences next to the
    // overlong and surrogate ranges, and four-byte ones.
    const Utf8Lead lead = utf8_lead(b0);
    if (lead.length >= 3 && left >= lead.length) {
      if (p[1] < lead.lo || p[1] > lead.hi || (p[2] & 0xC0) != 0x80) break;
      if (lead.length == 4 && (p[3] & 0xC0) != 0x80) break;
      p += lead.length;
      continue;
    }
    // Near the end, or an invalid lead byte.
    const uint8_t* q = p;
    if (decode_utf8(q, end) == kIncomplete) incomplete_tail = true;
    break;
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
    uint32_t cp = decode_utf8(jp, j + joined.size());
    if (cp == kIncomplete) {
      tail_ = joined;  // still incomplete: every byte was consumed
      return {};
    }
    size_t used = static_cast<size_t>(jp - j);
    if (cp == kReplacement && !(used == 3 && joined.compare(0, 3, "\xEF\xBF\xBD") == 0)) {
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
    decode_utf8(q, end);
    out_.append("\xEF\xBF\xBD");
    in = q;
  }
  return out_;
}

}  // namespace mossbank::term
