#include "screen/typing_profile.h"

#include "screen/agent_profiles.h"

namespace mossbank::screen {

std::string_view interrupt_key_bytes(InterruptKey key) {
  return key == InterruptKey::kEsc ? "\x1b" : "\x03";
}

TypingProfile typing_profile(std::string_view name) {
  if (const AgentProfile* profile = agent_profile(name)) return profile->typing;
  return {kEscKey, Typing::kOneLine, false};
}

}  // namespace mossbank::screen
