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

// Whether a text may be typed: the first two take a text of several lines
// (no caller tells them apart); kOneLine types one line and refuses a text
// of several lines as "unsupported". The values are the profile's codes.
enum class Typing : uint8_t { kLines = 0, kLinesToo = 1, kOneLine = 2 };

struct TypingProfile {
  std::span<const InterruptKey> interrupt_keys;
  Typing typing = Typing::kOneLine;
  bool is_codex = false;
};

// The agent's row's (agent_profiles.h), by the exact name ("Claude" is not
// "claude"); any text is accepted, and a name without a row gets Esc and
// Typing::kOneLine.
TypingProfile typing_profile(std::string_view name);

}  // namespace mossbank::screen
