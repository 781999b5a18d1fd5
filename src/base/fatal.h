// The one way to stop on a broken invariant (a constant table that does not
// parse, a pattern that does not compile, an index out of its range):
// "mossbank: <what>" on stderr, then abort. Never for outside input.
#pragma once

#include <string_view>

namespace mossbank {

[[noreturn]] void fatal(std::string_view what);

}  // namespace mossbank
