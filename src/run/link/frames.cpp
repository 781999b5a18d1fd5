#include "run/link/frames.h"

namespace mossbank::run {

namespace {

void put_be(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

Frame size_frame(uint16_t cols, uint16_t rows) {
  Frame f{'S', {}};
  put_be(f.body, cols, 2);
  put_be(f.body, rows, 2);
  return f;
}

Frame data_frame(std::string_view bytes) { return Frame{'D', std::string(bytes)}; }

Frame head_frame(uint64_t offset) {
  Frame f{'H', {}};
  put_be(f.body, offset, 8);
  return f;
}

Frame snapshot_frame(std::string_view name, uint64_t offset, uint32_t extra, uint16_t cols,
                     uint16_t rows, std::string_view screen) {
  Frame f{'J', {}};
  name = name.substr(0, 255);
  f.body.reserve(1 + name.size() + 16 + screen.size());
  f.body.push_back(static_cast<char>(name.size()));
  f.body.append(name);
  put_be(f.body, offset, 8);
  put_be(f.body, extra, 4);
  put_be(f.body, cols, 2);
  put_be(f.body, rows, 2);
  f.body.append(screen);
  return f;
}

void append_encoded_frame(std::string& out, const Frame& frame) {
  out.push_back(frame.kind);
  const uint64_t n = frame.body.size();
  put_be(out, n >= (uint64_t{1} << 32) ? 0xFFFFFFFFu : n, 4);
  out.append(frame.body);
}

std::string encode_frame(const Frame& frame) {
  std::string out;
  out.reserve(5 + frame.body.size());
  append_encoded_frame(out, frame);
  return out;
}

}  // namespace mossbank::run
