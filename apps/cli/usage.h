// Usage texts of the commands, from the usage table shared with the Node
// program (English syntax first, Korean second).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mossbank::cli {

// "Usage: mossbank <command>[ <syntax>]" in the UI language.
std::string usage_text(std::string_view command);

// Writes the usage text and a line feed to stdout.
void print_usage(std::string_view command);

// True, after printing the usage, when `rest` is exactly one "-h" or "--help".
bool help_requested(std::string_view command, const std::vector<std::string>& rest);

}  // namespace mossbank::cli
