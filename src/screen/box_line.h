// The line an agent's input box held when Enter was typed by hand, read by
// the agent's new-conversation rule (agent_profiles.h): the pattern of the
// box row (the lowest matching row counts; without one the side box is
// read), the commands that start a new conversation, the placeholder an
// empty box shows, and the colour of the agent's suggestions. Faint and
// suggestion-coloured characters are not typed text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mossbank::screen {

// The line in the agent's box, trimmed; none when there is no box, it is
// empty or it shows the placeholder.
std::optional<std::string> read_box_line(std::string_view agent, std::string_view screen_text);

// Styled screen text with every faint character, and every character drawn
// in the `ghost` colour ("r;g;b"), replaced by a blank; the escape sequences
// go and line breaks stay.
std::string blank_untyped(std::string_view styled_text, std::optional<std::string_view> ghost);

// What the box held at the Enter: one of the agent's new-conversation
// commands, or a line typed by hand (not a slash or shell command).
struct TypedLine {
  bool new_conversation = false;
  std::string line;
  bool operator==(const TypedLine&) const = default;
};

// The line for the agent's screen at the Enter, from its plain and styled
// text; none when the box held nothing to tell.
std::optional<TypedLine> read_typed_line(std::string_view agent, std::string_view plain,
                                         std::string_view styled);

}  // namespace mossbank::screen
