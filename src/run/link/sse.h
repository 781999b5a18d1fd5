// The command stream's two decoders, both pure push parsers: bytes in as
// they were read, completed pieces out.
//
// SseParser cuts server-sent events into lines at "\n" (a line may span any
// number of feeds; trailing "\r"s are dropped; bad UTF-8 becomes U+FFFD) and
// completes an event at an empty line when a name or data is pending:
//   "event:<name>"  the pending name (leading white space dropped; a later
//                   one replaces it); "message" when none is given
//   "data:<text>"   one data line, less one leading space; the lines are
//                   joined with "\n"
//   anything else   ignored (":" comments, "id:", "retry:", ...)
//
// ChunkedBody takes the body of a chunked answer and gives back each chunk's
// data once the whole chunk has arrived. A size line is trimmed, cut at its
// first ";" (an extension) and read as hexadecimal with an optional "+"; a
// line that does not read as hexadecimal counts as 0, which ends the body.
// A chunk above kMaxChunk fails the stream, as does a size line that runs
// past kMaxChunkLine. The two bytes after a chunk's data are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mossbank::run {

struct SseEvent {
  std::string name;
  std::string data;
};

class SseParser {
 public:
  // Appends the events `bytes` complete to `out`, in order.
  void feed(std::string_view bytes, std::vector<SseEvent>& out);

 private:
  void line_done(std::vector<SseEvent>& out);

  std::string line_;
  std::optional<std::string> name_;
  std::vector<std::string> data_;
};

inline constexpr uint64_t kMaxChunk = 0x100000;
inline constexpr size_t kMaxChunkLine = 64 * 1024;

// The size a chunk-size line announces (the line without its "\n").
uint64_t chunk_size_of(std::string_view line);

class ChunkedBody {
 public:
  enum class Status { more, ended, failed };

  // Appends the data of each chunk that `bytes` complete to `chunks`; bytes
  // after the body's end are ignored.
  Status feed(std::string_view bytes, std::vector<std::string>& chunks);
  Status status() const { return status_; }

 private:
  enum class Part { size_line, data, data_end };
  Part part_ = Part::size_line;
  Status status_ = Status::more;
  std::string line_;
  std::string data_;
  uint64_t left_ = 0;
};

}  // namespace mossbank::run
