#include "daemon/chunked.h"

#include <algorithm>

#include "base/text.h"
#include "base/utf8.h"

namespace mossbank {

namespace {

constexpr size_t kMostDigits = 16;

std::optional<uint64_t> parse_hex(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (value > (UINT64_MAX >> 4)) return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}

}  // namespace

std::optional<uint64_t> strict_chunk_size(std::string_view line) {
  if (!is_valid_utf8(line)) return std::nullopt;
  std::string_view digits = trim_unicode_space(line.substr(0, line.find(';')));
  std::string_view bare = digits.starts_with('+') ? digits.substr(1) : digits;
  if (bare.size() > kMostDigits) return std::nullopt;
  return parse_hex(digits);
}

uint64_t lenient_chunk_size(std::string_view line) {
  std::string_view text = trim_unicode_space(line);
  return parse_hex(text.substr(0, text.find(';'))).value_or(0);
}

bool ChunkedDecoder::size_line_done() {
  std::optional<uint64_t> size;
  if (rules_.strict) {
    if (!line_.ends_with('\r')) return false;
    line_.pop_back();
    size = strict_chunk_size(line_);
    if (!size) return false;
  } else {
    size = lenient_chunk_size(line_);
  }
  line_.clear();
  if (*size > rules_.max_chunk) return false;
  if (*size == 0) {
    if (rules_.strict) {
      left_ = 2;
      part_ = Part::last_end;
    } else {
      status_ = Status::ended;
    }
    return true;
  }
  left_ = *size;
  part_ = Part::data;
  return true;
}

ChunkedDecoder::Status ChunkedDecoder::feed(std::string_view bytes, std::string& data,
                                            size_t* used) {
  const size_t given = bytes.size();
  while (status_ == Status::more && !bytes.empty()) {
    switch (part_) {
      case Part::size_line: {
        const size_t newline = bytes.find('\n');
        const size_t take = newline == std::string_view::npos ? bytes.size() : newline;
        if (line_.size() + take > kMaxChunkLine) {
          status_ = Status::failed;
          break;
        }
        line_.append(bytes.substr(0, take));
        bytes.remove_prefix(newline == std::string_view::npos ? take : newline + 1);
        if (newline != std::string_view::npos && !size_line_done()) status_ = Status::failed;
        break;
      }
      case Part::data: {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, bytes.size()));
        data.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        left_ -= take;
        if (left_ == 0) {
          left_ = 2;
          part_ = Part::data_end;
        }
        break;
      }
      case Part::data_end:
      case Part::last_end: {
        // The CR LF after the data, or after the last chunk's size line.
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, bytes.size()));
        for (size_t i = 0; i < take; ++i) end_[2 - left_ + i] = bytes[i];
        bytes.remove_prefix(take);
        left_ -= take;
        if (left_ != 0) break;
        if (rules_.strict && (end_[0] != '\r' || end_[1] != '\n')) {
          status_ = Status::failed;
        } else if (part_ == Part::last_end) {
          status_ = Status::ended;
        } else {
          part_ = Part::size_line;
        }
        break;
      }
    }
  }
  if (used != nullptr) *used = given - bytes.size();
  return status_;
}

}  // namespace mossbank
