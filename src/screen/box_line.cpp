#include "screen/box_line.h"

#include <vector>

#include "base/text.h"
#include "base/utf8.h"
#include "screen/agent_profiles.h"
#include "screen/input_boxes.h"
#include "screen/styled_rows.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constexpr std::string_view kPatternFailure = "a wrapper pattern";

constinit const ScreenPattern escape_token_pattern{
    "\\x1b(?:\\[([0-9;:?]*)([@-~])|[\\]P][^\\x07\\x1b]*(?:\\x07|\\x1b\\\\)|.)", kPatternFailure};

const NewConversationRule* rule_of(std::string_view agent) {
  const AgentProfile* profile = agent_profile(agent);
  return profile != nullptr ? profile->new_conversation : nullptr;
}

}  // namespace

std::optional<std::string> read_box_line(std::string_view agent, std::string_view screen_text) {
  const NewConversationRule* rule = rule_of(agent);
  if (rule == nullptr || rule->box == nullptr) {
    std::optional<std::string> side =
        read_side_box(agent.empty() ? std::nullopt : std::optional(agent), screen_text);
    if (!side || side->empty()) return std::nullopt;
    return side;
  }
  const std::vector<std::string> rows = split_lines(strip_escapes(screen_text));
  for (size_t k = rows.size(); k-- > 0;) {
    std::optional<Match> m = rule->box->find(rows[k]);
    if (!m) continue;
    const std::string_view line = trim_unicode_space(m->group(1).value_or(std::string_view()));
    if (line.empty()) return std::nullopt;
    if (rule->placeholder != nullptr && rule->placeholder->is_match(line)) return std::nullopt;
    return std::string(line);
  }
  return std::nullopt;
}

std::string blank_untyped(std::string_view styled, std::optional<std::string_view> ghost) {
  std::string out;
  out.reserve(styled.size());
  HintLook look;
  std::vector<std::string_view> tokens;
  auto add_text = [&](std::string_view piece) {
    for (size_t pos = 0; pos < piece.size();) {
      const size_t start = pos;
      const char32_t c = next_code_point(piece, pos);
      if (c == U'\n') {
        look = HintLook{};  // every row starts plain
        out += '\n';
      } else if (look.faint || look.ghost) {
        out += ' ';
      } else {
        out.append(piece.substr(start, pos - start));
      }
    }
  };
  size_t pos = 0;
  while (pos < styled.size()) {
    const size_t esc = styled.find('\x1b', pos);
    if (esc == std::string_view::npos) break;
    add_text(styled.substr(pos, esc - pos));
    std::optional<Match> m = escape_token_pattern.find(styled, esc);
    if (!m || m->start() != esc) {
      pos = esc + 1;  // a lone ESC at the end
      continue;
    }
    if (m->group(2) == std::optional<std::string_view>("m"))
      apply_hint_look(look, m->group(1).value_or(std::string_view()), ghost, tokens);
    pos = m->end();
  }
  if (pos < styled.size()) add_text(styled.substr(pos));
  return out;
}

std::optional<TypedLine> read_typed_line(std::string_view agent, std::string_view plain,
                                         std::string_view styled) {
  const NewConversationRule* rule = rule_of(agent);
  if (std::optional<std::string> line = read_box_line(agent, plain); line && rule != nullptr) {
    if (listed(rule->commands, *line)) return TypedLine{true, std::move(*line)};
  }
  const std::optional<std::string_view> ghost =
      rule != nullptr && !rule->ghost.empty() ? std::optional(rule->ghost) : std::nullopt;
  std::optional<std::string> line = read_box_line(agent, blank_untyped(styled, ghost));
  if (!line || line->starts_with('/') || line->starts_with('!')) return std::nullopt;
  return TypedLine{false, std::move(*line)};
}

}  // namespace mossbank::screen
