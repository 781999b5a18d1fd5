// The run's frames to its subscriber (the output stream): a kind byte, a
// 32-bit big-endian body length (0xFFFFFFFF from 4 GiB up) and the body.
//   'S' size: cols u16, rows u16
//   'D' data: the agent's output bytes
//   'J' snapshot: name length u8 (at most 255), name, u64, u32, cols u16,
//       rows u16, then the serialised screen to the end
//   'H' head: a u64 (the published-bytes count the stream starts at)
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace mossbank::run {

// The largest side the daemon's interface carries (a u16 in frames and
// the same in posted screens); a larger terminal is reported as this.
inline constexpr uint32_t kMaxWireSide = 65535;
inline uint16_t wire_side(uint32_t side) {
  return static_cast<uint16_t>(std::min(side, kMaxWireSide));
}

struct Frame {
  char kind = 'D';
  std::string body;  // encoded body (for 'D' the bytes themselves)

  // What a backlog counts for the frame: a data frame its length, others 8.
  size_t accounted_size() const { return kind == 'D' ? body.size() : 8; }
};

Frame size_frame(uint16_t cols, uint16_t rows);
Frame data_frame(std::string_view bytes);
Frame head_frame(uint64_t offset);
Frame snapshot_frame(std::string_view name, uint64_t offset, uint32_t extra, uint16_t cols,
                     uint16_t rows, std::string_view screen);

// The frame as it goes on the wire.
std::string encode_frame(const Frame& frame);
void append_encoded_frame(std::string& out, const Frame& frame);

}  // namespace mossbank::run
