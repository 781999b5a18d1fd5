#include "screen/agent_readers.h"

#include "screen/agent_menu.h"

namespace mossbank::screen {

std::optional<LayoutMenu> read_agent_layouts(std::string_view agent, std::string_view screen) {
  if (agent == "kilo" || agent == "opencode" || agent == "kilocode") {
    return read_opencode_layouts(screen);
  }
  if (agent == "grok") return read_grok_layouts(screen);
  if (agent == "codex") return read_codex_layouts(screen);
  if (agent == "copilot") {
    std::optional<Menu> menu = read_copilot_menu(screen);
    if (!menu) return std::nullopt;
    return LayoutMenu{std::move(*menu), "framed list"};
  }
  if (agent == "antigravity") return read_antigravity_layouts(screen);
  return std::nullopt;
}

}  // namespace mossbank::screen
