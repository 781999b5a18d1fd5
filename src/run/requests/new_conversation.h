// An Enter typed by hand: the village learns at once what was sent. A
// command that starts a new conversation ("/clear", "/new") is posted to
// /command, any other line typed by hand (not a slash or shell command) to
// /typed, each from a short job of the run, so the Enter is never delayed
// by the daemon.
//
// The line is read from the agent's input box by the agent's entry in a
// table carried as JSON text ("new-conversation.json"): the pattern of the
// box row, the commands, the placeholder an empty box shows, and the colour
// of the agent's suggestions. Faint and suggestion-coloured characters are
// not typed text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/session/run_shared.h"
#include "screen/screen_pattern.h"

namespace mossbank::run {

struct NewConversationEntry {
  std::string agent;
  std::vector<std::string> commands;
  std::unique_ptr<screen::ScreenPattern> box;          // group 1: the line in the box
  std::unique_ptr<screen::ScreenPattern> placeholder;  // an empty box's text
  std::optional<std::string> ghost;                    // "r;g;b" of suggestions
};

// The table's entries in the file's key order, built once.
const std::vector<NewConversationEntry>& new_conversation_table();

// The line in the agent's box, trimmed; none when there is no box, it is
// empty or it shows the placeholder.
std::optional<std::string> read_box_line(std::string_view agent, std::string_view screen_text);

// Styled screen text with every faint character, and every character drawn
// in the `ghost` colour, replaced by a blank; the escape sequences go and
// line breaks stay.
std::string blank_untyped(std::string_view styled_text, std::optional<std::string_view> ghost);

// What an Enter typed by hand posts: the suffix ("/command" or "/typed")
// and the line.
struct LinePost {
  std::string suffix;
  std::string line;
  bool operator==(const LinePost&) const = default;
};

// The post for the agent's screen at the Enter, from its plain and styled
// text; none when the box held nothing to tell.
std::optional<LinePost> typed_line_post(std::string_view agent, std::string_view plain,
                                        std::string_view styled);

// At an Enter typed by hand (`now`: ms since the epoch): marks the village's
// talk in the activity record and posts the line. False when a post's job
// could not be started.
[[nodiscard]] bool tell_typed_line(RunShared& run, double now);

}  // namespace mossbank::run
