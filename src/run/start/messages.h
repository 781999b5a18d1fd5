// What the entry says on stderr, and the one lock every stderr write of a
// run takes, so that lines from several threads never interleave.
//
// eprint_raw frames its text with "\r\n" on both sides: while the user's
// terminal is raw a bare "\n" would not return to the first column.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "run/start/environment.h"

namespace mossbank::run {

std::mutex& stderr_lock();

// Writes the text to stderr under stderr_lock.
void eprint(std::string_view text);
// Writes "\r\n", the text and "\r\n" to stderr under stderr_lock.
void eprint_raw(std::string_view text);

// When MOSSBANK_AUTO_RUN_WHY is exactly "1": "mossbank: the agent runs by
// itself here (<why>)" on stderr.
void note_runs_by_itself(const EnvPairs& env, std::string_view why);

// The entry's texts, byte for byte.
std::string unknown_option_error(std::string_view option);
std::string needs_vocation_error(std::string_view option);
std::string cant_find_program(std::string_view program);
std::string runs_by_itself(std::string_view why);
std::string couldnt_start(std::string_view path, const Status& failed);
std::string couldnt_create_config(std::string_view config_path, const Status& failed);
std::string couldnt_write_vocations(std::string_view folder, const Status& failed);
std::string village_slow_to_start(std::string_view log_path);
std::string village_didnt_start(std::string_view log_path);
std::string no_vocation(std::string_view id, const std::vector<std::string>& known);
inline constexpr std::string_view kInstallNeedsVillage =
    "mossbank: the village is off, and an install runs only while it is on\n";
inline constexpr std::string_view kInstallVillageGone =
    "mossbank: the village that started this install isn't running\n";
inline constexpr std::string_view kNoRandomForRunId =
    "mossbank: couldn't make the run's id: the system gave no random bytes\n";
inline constexpr std::string_view kStartingAgain =
    "Mossbank: starting the agent again in the same conversation\u2026";
inline constexpr std::string_view kRestartCancelled = "the restart was cancelled";
inline constexpr std::string_view kAgentDidntStartAgain = "the agent didn\u2019t start again";

// An operating-system failure as the user sees it: "<text> (os error <code>)".
std::string os_error_text(const Status& failed);
// Every report of a failed system call takes this one form: what failed,
// named with the program's prefix where the message has one, then
// os_error_text and a newline: "<what>: <text> (os error <code>)\n".
std::string failure_line(std::string_view what, const Status& failed);

// "\nMossbank: <what>. `<name> <resume arguments>` takes the conversation up
// again.", <name> being the program's last path component; none when the
// agent takes no restart.
std::optional<std::string> resume_hint(std::string_view what, std::string_view program,
                                       std::string_view session_id);

}  // namespace mossbank::run
