// The program's entry: dispatch on the first argument.
#pragma once

#include <cstdint>

namespace mossbank::cli {

inline constexpr const char* kVersion = "0.22.6";

uint8_t cli_main(int argc, char** argv);

}  // namespace mossbank::cli
