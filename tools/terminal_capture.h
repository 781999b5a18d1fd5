// Reading a capture (a file of terminal bytes) into a Terminal, for the
// tools that show what the emulator makes of one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/files.h"
#include "terminal/terminal.h"

namespace mossbank::tools {

// A terminal of cols x rows after the file's bytes, fed through the UTF-8
// repair that a run's reads pass, `chunk` bytes at a time (all at once
// unless told). None, said on stderr as "<tool>: cannot read <path>", when
// the file cannot be read.
inline std::optional<Terminal> read_capture(std::string_view tool, const std::string& path,
                                            uint32_t cols, uint32_t rows,
                                            size_t chunk = std::numeric_limits<size_t>::max()) {
  std::optional<std::string> bytes = read_file(path);
  if (!bytes) {
    std::fprintf(stderr, "%.*s: cannot read %s\n", static_cast<int>(tool.size()), tool.data(),
                 path.c_str());
    return std::nullopt;
  }
  Terminal t = terminal_new(cols, rows);
  Utf8Repair repair;
  const std::string_view all(*bytes);
  for (size_t off = 0; off < all.size(); off += chunk)
    terminal_process(t, repair.feed(all.substr(off, chunk)));
  return t;
}

}  // namespace mossbank::tools
