#include "screen/agent_readers.h"

#include "screen/agent_profiles.h"

namespace mossbank::screen {

std::optional<LayoutMenu> first_layout(std::string_view screen, std::span<const TrimmedRow> rows,
                                       std::span<const Layout> layouts) {
  for (const Layout& layout : layouts) {
    if (std::optional<Menu> menu = layout.read(screen, rows)) {
      return LayoutMenu{std::move(*menu), layout.name};
    }
  }
  return std::nullopt;
}

std::optional<LayoutMenu> read_layouts(const MenuLayouts& menus, std::string_view screen) {
  std::vector<TrimmedRow> rows = trim_side_bars(screen);
  if (menus.prepare != nullptr && !menus.prepare(rows)) return std::nullopt;
  return first_layout(screen, rows, menus.layouts);
}

std::optional<LayoutMenu> read_agent_layouts(std::string_view agent, std::string_view screen) {
  const AgentProfile* profile = agent_profile(agent);
  if (profile == nullptr || profile->menus == nullptr) return std::nullopt;
  return read_layouts(*profile->menus, screen);
}

}  // namespace mossbank::screen
