// Vocations: a role in the village for a wrapped agent.
//
// A vocation is a Markdown file "<id>.md" in the "vocations" folder of the
// home directory, with optional front matter ("name: Researcher"). While
// that folder does not exist, seven built-in vocations stand in; the first
// time one of them is asked for, the folder is created and all seven are
// written out for the user to edit (keep_builtin_vocations, once
// resolve_vocation has found the one asked for). Once the folder exists its
// files alone are the vocations.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace mossbank::run {

struct Vocation {
  std::string id;
  std::string name;
  std::string prompt;
};

// The vocation `id`; an unknown one is ENOENT with the text the user sees,
// "No vocation \"<id>\". Known: <ids>". Writes nothing.
Result<Vocation> resolve_vocation(const std::string& home, std::string_view id);

// The "vocations" folder of the home directory.
std::string vocations_folder(const std::string& home);

// While the folder does not exist, creates it and writes the built-ins out;
// the operating system's failure otherwise.
Status keep_builtin_vocations(const std::string& home);

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
