// The decoder of a chunked HTTP body, fed bytes as they are read; the data
// of the chunks comes out as it arrives. The client reads whole answers
// with it (ChunkedRules::answer), the run's command stream its endless body
// (ChunkedRules::stream).
//
// A chunk-size line runs to "\n". Strict rules (an answer): the line must
// end in "\r\n"; it is cut at its first ";" (an extension), trimmed, and
// read as at most 16 hexadecimal digits with an optional "+"; anything else
// fails; the data is followed by "\r\n", and the last chunk (size 0) by
// "\r\n" (no trailers). Lenient rules (the stream): the line is trimmed,
// cut at its first ";" and read as hexadecimal; a line that does not read
// counts as 0, which ends the body; the two bytes after the data are
// skipped; the body ends at the last chunk's size line. Under both, a chunk
// above `max_chunk` fails, and so does a size line past kMaxChunkLine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mossbank {

inline constexpr size_t kMaxChunkLine = 64 * 1024;

struct ChunkedRules {
  bool strict = true;
  uint64_t max_chunk = UINT64_MAX;

  static ChunkedRules answer(uint64_t max_chunk) { return {true, max_chunk}; }
  static ChunkedRules stream(uint64_t max_chunk) { return {false, max_chunk}; }
};

// The size a chunk-size line (without its "\n") announces: strictly (none
// when it is not one), or leniently (0 when it is not one).
std::optional<uint64_t> strict_chunk_size(std::string_view line);
uint64_t lenient_chunk_size(std::string_view line);

class ChunkedDecoder {
 public:
  enum class Status { more, ended, failed };

  explicit ChunkedDecoder(ChunkedRules rules) : rules_(rules) {}

  // Appends the chunk data in `bytes` to `data`. `used` (when given) gets
  // how many bytes were taken: all of them, unless the body ended or
  // failed within them. After the end or a failure nothing more is taken.
  Status feed(std::string_view bytes, std::string& data, size_t* used = nullptr);
  Status status() const { return status_; }

 private:
  enum class Part { size_line, data, data_end, last_end };
  bool size_line_done();

  ChunkedRules rules_;
  Part part_ = Part::size_line;
  Status status_ = Status::more;
  std::string line_;
  uint64_t left_ = 0;
  char end_[2] = {};
};

}  // namespace mossbank
