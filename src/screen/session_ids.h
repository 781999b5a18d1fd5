// Session ids, and the conversation an agent's command line opens.
//
// A session id is 36 characters: lower-case hexadecimal groups of 8, 4, 4, 4
// and 12 joined by "-" (upper-case digits are not one). A fresh run
// identifier has the same form, so it doubles as Claude Code's session id:
// a Claude Code run that names no conversation is started with
// "--session-id <run id>" (Grok too, for an interactive session).
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/random.h"

namespace mossbank::screen {

// Arguments that choose the conversation; also the row's
// exact_session_options (Grok's "-s").
inline constexpr std::array<std::string_view, 6> session_options = {
    "--resume", "-r", "--continue", "-c", "--session-id", "--fork-session"};

// Whether the whole text has the form of a session id.
bool is_session_id(std::string_view text);

// A version 4 UUID from `fill` (getentropy unless a test says otherwise);
// none when the source fails, since a fixed id would make runs and sessions
// collide.
using FillRandom = bool (*)(unsigned char* out, size_t n);
std::optional<std::string> new_session_id(FillRandom fill = fill_random);

// A copy of the text when it has the form of a session id.
std::optional<std::string> parse_session_id(std::optional<std::string_view> text);

// The first session id that one of `names` gives in `args`: "--name=<id>"
// or "--name <id>" for an option, and for a sub-command such as "resume" the
// first later argument that is a session id.
std::optional<std::string> option_value(std::span<const std::string> args,
                                        std::span<const std::string_view> names);

// The conversation the agent's arguments name, by its display name
// (agent_name_of_program) and the session options of its row; an agent
// without them has none.
std::optional<std::string> session_id_of_args(std::string_view agent,
                                              std::span<const std::string> args);

// Whether an argument chooses the conversation already.
bool has_session_option(std::string_view agent, std::span<const std::string> args);

struct RunSession {
  std::vector<std::string> args;          // the agent's arguments to start it with
  std::optional<std::string> session_id;  // the conversation they open
};

// The arguments a run starts the agent with, and its session id.
RunSession run_session(std::string_view program, std::vector<std::string> args,
                       std::string_view run_id);

}  // namespace mossbank::screen
