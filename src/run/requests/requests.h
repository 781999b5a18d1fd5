// The village's requests that need a written answer (`talk`, `keys`,
// `interrupt`, `restart`).
//
// take_village_request, on the link's thread, takes at most one at a time
// per run (the run's RequestGate) and answers the others at once; the
// worker "village's request", a job of the run, carries the one taken out,
// posts its outcome word to /talk-result, and after a Claude Code talk that
// was sent watches the box and posts a receipt to /talk-receipt.
//
// A request is current while the run is not stopping and nothing was typed
// by hand since it started (the key filter's input generation): typing by
// hand in the middle of a request makes it end without further keys.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.h"
#include "run/session/hand_input.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

// The outcome words of a request's result.
namespace outcome {
inline constexpr std::string_view kSent = "sent";
inline constexpr std::string_view kBusy = "busy";
inline constexpr std::string_view kUnavailable = "unavailable";
inline constexpr std::string_view kPermission = "permission";
inline constexpr std::string_view kUnsupported = "unsupported";
inline constexpr std::string_view kDraft = "draft";
inline constexpr std::string_view kEmpty = "empty";
inline constexpr std::string_view kMaybePasted = "maybe-pasted";
inline constexpr std::string_view kNoPopup = "no-popup";
inline constexpr std::string_view kFailed = "failed";
}  // namespace outcome

// What the worker owns: a copy of the command, its type and requestId, and
// the input generation when it was taken.
struct VillageRequest {
  JsonValue command;
  std::string type;
  std::string request_id;
  uint64_t input_generation = 0;
};

// Takes a request whose fields the command handling has checked so far;
// `type` is its `type` text. False when its worker could not be started.
[[nodiscard]] bool take_village_request(RunShared& run, const JsonValue& command,
                                        std::string_view type);

// The worker's body: carries the request out and answers it.
void serve_village_request(RunShared& run, const VillageRequest& request);

// The run is not stopping and nothing was typed by hand since the request began.
bool request_still_current(RunShared& run, const VillageRequest& request);

// Notes the typed input in the activity record, then writes the bytes to the
// agent as they are; false when they could not be written.
bool type_keys(RunShared& run, std::string_view bytes);

// The flags of a talk: a clean box and an exact check; Claude Code's shell
// mode; typing over the user's own draft.
struct TypingFlags {
  bool clear = false;
  bool shell = false;
  bool force = false;
};

// Types a text into the agent's input box as a person would and presses
// Enter only when that is safe; the outcome word ("sent", "unsupported",
// "permission", "draft", "maybe-pasted" or "no-popup").
std::string type_into_agent(RunShared& run, const VillageRequest& request, std::string_view text,
                            TypingFlags flags);

// The keys, interrupt and restart requests, each giving its outcome word.
std::string serve_keys_request(RunShared& run, const VillageRequest& request);
std::string serve_interrupt_request(RunShared& run, const VillageRequest& request);
std::string serve_restart_request(RunShared& run, const VillageRequest& request);

// One read of Claude Code's box after a sent talk.
struct ReceiptRead {
  bool text_gone = false;  // the cursor after an empty prompt, or the text not shown
  bool working = false;    // the pane looks busy or the activity says working
  bool question = false;   // an approval question waits
};

// A receipt's body fields (besides requestId).
struct Receipt {
  std::string stage;  // "taken", "untaken" or "unconfirmed"
  std::optional<bool> turn;
  std::optional<std::string> where;
  bool operator==(const Receipt&) const = default;
};

// The receipt watch as a decision per read: the receipt once one is given,
// else none (and the next read follows 120 ms later).
class ReceiptWatch {
 public:
  static constexpr std::chrono::milliseconds kInterval{120};
  static constexpr std::chrono::milliseconds kPatience{5000};

  // `elapsed` since the watch began; `current` false when the request is no
  // longer current or an interrupt came.
  std::optional<Receipt> next(bool current, const ReceiptRead& read,
                              std::chrono::milliseconds elapsed);

 private:
  std::optional<Receipt> candidate_;
};

JsonValue talk_result_body(std::string_view request_id, std::string_view outcome_word);
JsonValue talk_receipt_body(std::string_view request_id, const Receipt& receipt);

}  // namespace mossbank::run
