// The serve loop's pieces that tests reach: cutting input into lines and
// the bounds on threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mossbank::mcp {

inline constexpr size_t kReadSize = 64 * 1024;
// Message workers running at once, the new one included.
inline constexpr size_t kMaxWorkers = 16;
// Batch elements handled at once.
inline constexpr size_t kBatchChunk = 16;

// Cuts a byte stream into lines at "\n", "\r\n" or a lone "\r". A "\r" that
// ends what has arrived waits for the next bytes (it may be half of
// "\r\n"). A line may span any number of feeds; bytes are looked at once.
class LineCutter {
 public:
  // Appends `bytes` and returns the lines completed, without terminators.
  // With `end` set, whatever remains is one more line (when not empty).
  std::vector<std::string> feed(std::string_view bytes, bool end);

 private:
  std::string pending_;
  size_t scanned_ = 0;  // bytes of pending_ already searched for a terminator
};

}  // namespace mossbank::mcp
