// Which keys interrupt an agent, and whether the village may type a text of
// several lines into it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace mossbank::screen {

// Written to the agent one after another (80 ms apart) to interrupt it.
enum class InterruptKey : uint8_t { kEsc = 0, kCtrlC = 1 };

inline constexpr std::array<InterruptKey, 1> kEscKey = {InterruptKey::kEsc};
inline constexpr std::array<InterruptKey, 2> kEscEscKeys = {InterruptKey::kEsc, InterruptKey::kEsc};
inline constexpr std::array<InterruptKey, 1> kCtrlCKey = {InterruptKey::kCtrlC};

// "\x1b" or "\x03".
std::string_view interrupt_key_bytes(InterruptKey key);

struct TypingProfile {
  std::span<const InterruptKey> interrupt_keys;
  // 0 and 1: typing is supported (no caller tells them apart); 2: a text of
  // one line is typed, one of several lines is refused as "unsupported".
  uint8_t typing = 2;
  bool is_codex = false;
};

// The agent's row's (agent_profiles.h), by the exact name ("Claude" is not
// "claude"); any text is accepted, and a name without a row gets Esc and
// typing 2.
TypingProfile typing_profile(std::string_view name);

}  // namespace mossbank::screen
