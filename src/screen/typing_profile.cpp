#include "screen/typing_profile.h"

#include <array>

#include "base/text.h"

namespace mossbank::screen {

namespace {

constexpr std::array<InterruptKey, 1> kEsc = {InterruptKey::kEsc};
constexpr std::array<InterruptKey, 2> kEscEsc = {InterruptKey::kEsc, InterruptKey::kEsc};
constexpr std::array<InterruptKey, 1> kCtrlC = {InterruptKey::kCtrlC};

constexpr std::array<std::string_view, 6> kEscAgents = {"claude", "cursor", "auggie",
                                                        "cn",     "kimi",   "cline"};
constexpr std::array<std::string_view, 5> kEscEscAgents = {"copilot", "opencode", "kilocode",
                                                           "kilo", "crush"};
constexpr std::array<std::string_view, 2> kCtrlCOneLineAgents = {"goose", "hermes"};

}  // namespace

std::string_view interrupt_key_bytes(InterruptKey key) {
  return key == InterruptKey::kEsc ? "\x1b" : "\x03";
}

TypingProfile typing_profile(std::string_view name) {
  if (listed(kEscAgents, name)) return {kEsc, 0, false};
  if (listed(kEscEscAgents, name)) return {kEscEsc, 0, false};
  if (name == "grok") return {kCtrlC, 1, false};
  if (name == "codex") return {kEsc, 1, true};
  if (listed(kCtrlCOneLineAgents, name)) return {kCtrlC, 2, false};
  return {kEsc, 2, false};
}

}  // namespace mossbank::screen
