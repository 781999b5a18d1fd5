// Restart and resume options: the agent's command line rebuilt so that a
// restart takes the same conversation up again.
//
// Options that only configure the agent are kept; options and subcommands
// that pick a conversation are dropped (the restart names it); the
// restart's launch words replace the kept options that set the same thing.
// Anything not understood (a prompt word, "--", an unknown option) refuses
// the restart, since a prompt on the command line would be sent again. The
// rules are the agent's row's (agent_profiles.h); an agent without restart
// options or a resume word cannot be restarted.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "screen/agent_profiles.h"

namespace mossbank::run {

// The command that makes the agent exit so that a restart can take it up
// again, by the agent's row ("/exit" for Claude Code); none without one.
std::optional<std::string_view> exit_command(std::string_view agent);

// The resume word, the session id, then the kept and launch words; none
// when the run cannot be restarted.
std::optional<std::vector<std::string>> resume_args(std::string_view program,
                                                    std::span<const std::string> args,
                                                    std::string_view session_id,
                                                    std::span<const std::string> launch_words);

// Groups of words: one starts at the first word and at every non-empty word
// that begins with "-".
std::vector<std::vector<std::string>> option_groups(std::span<const std::string> words);

// The key of the thing a group sets, by the agent's restart options.
std::string restart_config(const screen::RestartOptions& rules, std::span<const std::string> group);

}  // namespace mossbank::run
