// The thin layer over the places where macOS and Linux differ.
//
// own_executable_path: the running program's path as the platform reports it
// (_NSGetExecutablePath on macOS, /proc/self/exe on Linux); none on failure.
// Pseudo-terminal functions come from <util.h> on macOS and <pty.h> on Linux:
// include "platform/pty.h" for openpty, "platform/locale.h" for the
// per-locale character functions. Starting and becoming other programs with
// their signals reset, close-on-exec pipes and file times: process.h.
// Sockets without SIGPIPE, close-on-exec from the start: sockets.h.
// Failures come back as base's Status, except inside a forked child, which
// may not allocate.
#pragma once

#include <optional>
#include <string>

namespace mossbank::platform {

std::optional<std::string> own_executable_path();

}  // namespace mossbank::platform
