// The command stream's event parser, a pure push parser: bytes in as they
// were read (the chunked framing already taken off), events out.
//
// SseParser cuts server-sent events into lines at "\n" (a line may span any
// number of feeds; trailing "\r"s are dropped; bad UTF-8 becomes U+FFFD) and
// completes an event at an empty line when a name or data is pending:
//   "event:<name>"  the pending name (leading white space dropped; a later
//                   one replaces it); "message" when none is given
//   "data:<text>"   one data line, less one leading space; the lines are
//                   joined with "\n"
//   anything else   ignored (":" comments, "id:", "retry:", ...)
// A line, or an event's pending data, past kMaxEventBytes fails the parser:
// a daemon gone wrong cannot make the run hold more than that (the largest
// event the village sends, an `input` of 65,536 units escaped as JSON, is
// under 400 KiB).
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

inline constexpr size_t kMaxEventBytes = 4u << 20;

class SseParser {
 public:
  // Appends the events `bytes` complete to `out`, in order; false (then
  // and from now on) once a line or an event's data passes kMaxEventBytes.
  bool feed(std::string_view bytes, std::vector<SseEvent>& out);

 private:
  bool line_done(std::vector<SseEvent>& out);

  std::string line_;
  std::optional<std::string> name_;
  std::vector<std::string> data_;
  size_t data_bytes_ = 0;  // the data lines joined
  bool failed_ = false;
};

}  // namespace mossbank::run
