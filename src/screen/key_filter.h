// The filter that every key on its way to the agent passes through: the
// user's typing and the village's `keys` and `input` commands.
//
// The user's terminal mixes into the typed stream things that are not keys:
// replies to queries (cursor position, device attributes, mode reports,
// colours, titles), focus reports, key releases of the extended keyboard
// protocol, and Windows-style key records. filter_input_keys removes them,
// turns key records into the keys they stand for, holds back the start of an
// escape sequence (or of a UTF-8 character) cut off at a chunk's end until
// the next chunk completes it, and counts what was typed on the current line
// so that the caller learns when Enter was pressed on a line typed by hand.
//
// The filter works on bytes: invalid UTF-8 passes through unchanged, and
// counts are of characters (an invalid byte is one). A held-back start is at
// most 1024 characters; a longer one passes through as it is.
//
// A lone Esc at a chunk's end may be the start of a sequence, so it is held
// too. The caller asks release_lone_esc once lone_esc_deadline has passed,
// so that an Esc press reaches the agent without waiting for the next key.
// Time is always passed in (a monotonic clock), never read here.
//
// The state is one per run and the caller serialises calls (the run's
// key-filter lock). The screen tests are the caller's: the filter asks them
// through KeyScreen, and only when the screen's generation has moved on
// since the answer it keeps.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mossbank::screen {

using KeyClock = std::chrono::steady_clock;

// How long a lone Esc waits for the rest of a sequence.
inline constexpr std::chrono::milliseconds kLoneEscWait{50};
// The longest start of a sequence that is held back, in characters.
inline constexpr size_t kMaxHeldBack = 1024;

// The run's screen as the filter sees it. `generation` names the screen's
// content and changes whenever it does; it is read before a test is asked,
// so an answer is never kept for a newer screen than the one it was taken
// at. awaiting_approval is the approval test on the plain screen lines;
// command_center_open whether Codex's agent command center is open.
struct KeyScreen {
  std::function<uint64_t()> generation;
  std::function<bool()> awaiting_approval;
  std::function<bool()> command_center_open;
};

// An answer of a screen test, and the generation it was taken at.
struct KeptAnswer {
  std::optional<uint64_t> generation;
  bool answer = false;
};

struct KeyFilterState {
  std::string pending;    // held back: the start of a sequence or of a character
  bool lone_esc = false;  // the last call let a held Esc go as the Esc key
  std::optional<KeyClock::time_point> last_input;  // the last call that passed bytes
  uint64_t typed_count = 0;                        // characters typed on the current line
  uint64_t input_serial = 0;  // bumped by every pass, and when `pending` changes
  bool dirty = false;         // the current line has seen a control character

  // Since when `pending` has been a lone Esc.
  KeyClock::time_point esc_held_since{};
  KeptAnswer approval;
  KeptAnswer command_center;
};

struct FilteredKeys {
  std::string bytes;       // what to write to the agent
  bool submitted = false;  // Enter pressed on a line the user typed into
};

FilteredKeys filter_input_keys(KeyFilterState& state, std::string_view chunk,
                               const KeyScreen& screen, KeyClock::time_point now);

// The two halves of filter_input_keys, for a caller that writes the keys
// before it counts them, so that a keystroke never waits for the approval
// test: take_input_keys removes, holds back and passes; count_input_keys
// counts what was passed (its approval test may read the screen) and says
// whether it submitted a typed line. Both under the same lock as one call.
struct TakenKeys {
  std::string bytes;      // what to write to the agent
  bool lone_esc = false;  // the bytes start with a held Esc let go as the Esc key
};
TakenKeys take_input_keys(KeyFilterState& state, std::string_view chunk, const KeyScreen& screen,
                          KeyClock::time_point now);
bool count_input_keys(KeyFilterState& state, const TakenKeys& taken, const KeyScreen& screen);

// When a held lone Esc is due to go as the Esc key; none when none is held.
std::optional<KeyClock::time_point> lone_esc_deadline(const KeyFilterState& state);

// At or after the deadline: the held Esc goes as the Esc key, exactly as if
// the next chunk had not continued it. Before it, or with no Esc held,
// nothing happens and the result is empty.
FilteredKeys release_lone_esc(KeyFilterState& state, const KeyScreen& screen,
                              KeyClock::time_point now);

}  // namespace mossbank::screen
