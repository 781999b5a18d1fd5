#include "screen/slash_popups.h"

#include <vector>

#include "screen/agent_profiles.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constexpr std::string_view kPatternFailure = "a wrapper pattern";

constinit const ScreenPattern slash_command_pattern{"^(/[a-z][a-z0-9-]*)(?:\\s|$)",
                                                    kPatternFailure};

}  // namespace

constinit const ScreenPattern pasted_marker_pattern{"^\\[Pastedtext#\\d+(?:\\+\\d+lines)?\\]$",
                                                    kPatternFailure};

std::optional<std::string> slash_command_word(std::string_view text) {
  std::optional<Match> m = slash_command_pattern.find(text);
  if (!m) return std::nullopt;
  return std::string(*m->group(1));
}

bool dialog_open(const SlashPopupRule& rule, std::string_view screen_text) {
  for (const std::string& row : split_lines(strip_escapes(screen_text))) {
    if (rule.dialog.is_match(js_trim(row))) return true;
  }
  return false;
}

std::optional<std::string> popup_command(const SlashPopupRule& rule, std::string_view screen_text) {
  for (const std::string& row : split_lines(strip_escapes(screen_text))) {
    if (std::optional<Match> m = rule.row.find(row)) {
      if (std::optional<std::string_view> command = m->group(1)) return std::string(*command);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace mossbank::screen
