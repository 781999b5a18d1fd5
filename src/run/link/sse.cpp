#include "run/link/sse.h"

#include <algorithm>

#include "base/text.h"
#include "base/utf8.h"

namespace mossbank::run {

namespace {

std::string_view trim_start_space(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    if (utf8_sequence_length(text.substr(pos)) == 0) break;
    if (!is_unicode_space(next_code_point(text, next))) break;
    pos = next;
  }
  return text.substr(pos);
}

std::optional<uint64_t> parse_hex(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    if (value > (UINT64_MAX >> 4)) return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}

}  // namespace

void SseParser::feed(std::string_view bytes, std::vector<SseEvent>& out) {
  while (!bytes.empty()) {
    size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos) {
      line_.append(bytes);
      return;
    }
    line_.append(bytes.substr(0, newline));
    bytes.remove_prefix(newline + 1);
    line_done(out);
  }
}

void SseParser::line_done(std::vector<SseEvent>& out) {
  std::string line = utf8_lossy(line_);
  line_.clear();
  while (!line.empty() && line.back() == '\r') line.pop_back();
  std::string_view text = line;
  if (text.empty()) {
    if (!name_ && data_.empty()) return;
    SseEvent event;
    event.name = name_ ? std::move(*name_) : "message";
    for (size_t i = 0; i < data_.size(); ++i) {
      if (i > 0) event.data += '\n';
      event.data += data_[i];
    }
    name_.reset();
    data_.clear();
    out.push_back(std::move(event));
  } else if (text.starts_with("event:")) {
    name_ = std::string(trim_start_space(text.substr(6)));
  } else if (text.starts_with("data:")) {
    std::string_view rest = text.substr(5);
    if (rest.starts_with(' ')) rest.remove_prefix(1);
    data_.emplace_back(rest);
  }
}

uint64_t chunk_size_of(std::string_view line) {
  std::string_view text = trim_unicode_space(line);
  text = text.substr(0, text.find(';'));
  return parse_hex(text).value_or(0);
}

ChunkedBody::Status ChunkedBody::feed(std::string_view bytes, std::vector<std::string>& chunks) {
  while (status_ == Status::more && !bytes.empty()) {
    switch (part_) {
      case Part::size_line: {
        size_t newline = bytes.find('\n');
        size_t take = newline == std::string_view::npos ? bytes.size() : newline;
        if (line_.size() + take > kMaxChunkLine) {
          status_ = Status::failed;
          break;
        }
        line_.append(bytes.substr(0, take));
        if (newline == std::string_view::npos) return status_;
        bytes.remove_prefix(newline + 1);
        uint64_t size = chunk_size_of(line_);
        line_.clear();
        if (size == 0) {
          status_ = Status::ended;
        } else if (size > kMaxChunk) {
          status_ = Status::failed;
        } else {
          left_ = size;
          data_.clear();
          part_ = Part::data;
        }
        break;
      }
      case Part::data: {
        size_t take = static_cast<size_t>(std::min<uint64_t>(left_, bytes.size()));
        data_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        left_ -= take;
        if (left_ == 0) {
          chunks.push_back(std::move(data_));
          data_.clear();
          left_ = 2;
          part_ = Part::data_end;
        }
        break;
      }
      case Part::data_end: {
        size_t take = static_cast<size_t>(std::min<uint64_t>(left_, bytes.size()));
        bytes.remove_prefix(take);
        left_ -= take;
        if (left_ == 0) part_ = Part::size_line;
        break;
      }
    }
  }
  return status_;
}

}  // namespace mossbank::run
