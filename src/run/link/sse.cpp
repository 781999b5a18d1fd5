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

}  // namespace

bool SseParser::feed(std::string_view bytes, std::vector<SseEvent>& out) {
  while (!failed_ && !bytes.empty()) {
    size_t newline = bytes.find('\n');
    std::string_view piece = bytes.substr(0, newline);
    if (line_.size() + piece.size() > kMaxEventBytes) {
      failed_ = true;
      break;
    }
    line_.append(piece);
    if (newline == std::string_view::npos) break;
    bytes.remove_prefix(newline + 1);
    if (!line_done(out)) failed_ = true;
  }
  if (failed_) {
    line_ = std::string();
    data_ = {};
  }
  return !failed_;
}

bool SseParser::line_done(std::vector<SseEvent>& out) {
  std::string line = utf8_lossy(line_);
  line_.clear();
  while (!line.empty() && line.back() == '\r') line.pop_back();
  std::string_view text = line;
  if (text.empty()) {
    if (!name_ && data_.empty()) return true;
    SseEvent event;
    event.name = name_ ? std::move(*name_) : "message";
    event.data.reserve(data_bytes_);
    for (size_t i = 0; i < data_.size(); ++i) {
      if (i > 0) event.data += '\n';
      event.data += data_[i];
    }
    name_.reset();
    data_.clear();
    data_bytes_ = 0;
    out.push_back(std::move(event));
  } else if (text.starts_with("event:")) {
    name_ = std::string(trim_start_space(text.substr(6)));
  } else if (text.starts_with("data:")) {
    std::string_view rest = text.substr(5);
    if (rest.starts_with(' ')) rest.remove_prefix(1);
    const size_t joined = data_bytes_ + (data_.empty() ? 0 : 1) + rest.size();
    if (joined > kMaxEventBytes) return false;
    data_bytes_ = joined;
    data_.emplace_back(rest);
  }
  return true;
}

}  // namespace mossbank::run
