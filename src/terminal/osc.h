// String sequences: titles (OSC 0, 1, 2), hyperlinks (OSC 8) and the
// request-status string DECRQSS.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/terminal.h"

namespace mossbank::term {

void osc_dispatch(Terminal& t, int32_t number, const std::string& text);
void set_title(Terminal& t, const std::string& text);
void dcs_request_status(Terminal& t, const std::string& text);

}  // namespace mossbank::term
