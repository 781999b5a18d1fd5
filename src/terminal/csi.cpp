#include "terminal/csi.h"

namespace mossbank::term {

void csi_dispatch(Terminal&, uint32_t, const Parser&) {}

}  // namespace mossbank::term
