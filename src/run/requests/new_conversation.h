// An Enter typed by hand: the village learns at once what was sent. A
// command that starts a new conversation ("/clear", "/new") is posted to
// /command, any other line typed by hand (not a slash or shell command) to
// /typed, each from a short job of the run, so the Enter is never delayed
// by the daemon. The line is read from the agent's box by screen/box_line.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "run/session/run_shared.h"

namespace mossbank::run {

// What an Enter typed by hand posts: the suffix ("/command" or "/typed")
// and the line.
struct LinePost {
  std::string suffix;
  std::string line;
  bool operator==(const LinePost&) const = default;
};

// The post for the agent's screen at the Enter, from its plain and styled
// text; none when the box held nothing to tell. A typed line is cut to its
// first 4000 characters.
std::optional<LinePost> typed_line_post(std::string_view agent, std::string_view plain,
                                        std::string_view styled);

// At an Enter typed by hand (`now`: ms since the epoch): marks the village's
// talk in the activity record and posts the line. False when a post's job
// could not be started.
[[nodiscard]] bool tell_typed_line(RunShared& run, double now);

}  // namespace mossbank::run
