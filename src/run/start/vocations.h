// Vocations: a role in the village for a wrapped agent.
//
// A vocation is a Markdown file "<id>.md" in the "vocations" folder of the
// home directory, with optional front matter ("name: Researcher"). While
// that folder does not exist, seven built-in vocations stand in; the first
// time one of them is asked for, the folder is created and all seven are
// written out for the user to edit. Once the folder exists its files alone
// are the vocations.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace mossbank::run {

struct Vocation {
  std::string id;
  std::string name;
  std::string prompt;
};

struct VocationNotFound {
  std::string text;  // "No vocation \"<id>\". Known: <ids>"
};
struct VocationWriteFailed {
  std::string text;    // the system's error text
  std::string folder;  // the vocations folder that could not be written
  int code = 0;        // the errno
};
using VocationLookup = std::variant<Vocation, VocationNotFound, VocationWriteFailed>;

VocationLookup resolve_vocation(const std::string& home, std::string_view id);

// "You are a Mossbank resident working as <name>. " and the prompt's
// trimmed, non-empty lines joined with blanks.
std::string vocation_prompt(const Vocation& vocation);

// None for an id outside [a-z0-9][a-z0-9-]{0,63} or an empty body. The
// prompt is the trimmed body cut to 3,000 UTF-16 code units.
std::optional<Vocation> parse_vocation(std::string_view id, std::string_view text);

// The vocations of these files, in the order of their file names compared
// as UTF-16; files that are not "*.md", unreadable or invalid are skipped.
std::vector<Vocation> load_vocations(std::vector<std::string> paths);

// (id, text) of the seven built-ins, in their order.
const std::vector<std::pair<std::string, std::string>>& builtin_vocations();

}  // namespace mossbank::run
