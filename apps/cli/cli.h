// The program's entry: dispatch on the first argument.
#pragma once

#include <cstdint>

namespace mossbank::cli {

uint8_t cli_main(int argc, char** argv);

}  // namespace mossbank::cli
