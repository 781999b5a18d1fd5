#include "run/start/messages.h"

#include <unistd.h>

#include <cstring>

#include "base/files.h"
#include "run/start/options.h"
#include "run/start/resume.h"

namespace mossbank::run {

std::mutex& stderr_lock() {
  static std::mutex lock;
  return lock;
}

void eprint(std::string_view text) {
  std::lock_guard<std::mutex> hold(stderr_lock());
  (void)write_all(STDERR_FILENO, text);
}

void eprint_raw(std::string_view text) {
  std::string framed;
  framed.reserve(text.size() + 4);
  framed += "\r\n";
  framed += text;
  framed += "\r\n";
  eprint(framed);
}

void note_runs_by_itself(const EnvPairs& env, std::string_view why) {
  if (env_is_one(env, "MOSSBANK_AUTO_RUN_WHY")) eprint(runs_by_itself(why));
}

std::string unknown_option_error(std::string_view option) {
  return "Unknown option " + std::string(option) + ". Put the agent's own flags after its name.";
}

std::string needs_vocation_error(std::string_view option) {
  return std::string(option) + " needs a vocation id, e.g. --vocation researcher";
}

std::string cant_find_program(std::string_view program) {
  return "Can't find \"" + std::string(program) + "\" on your PATH.\n";
}

std::string runs_by_itself(std::string_view why) {
  return "mossbank: the agent runs by itself here (" + std::string(why) + ")\n";
}

std::string couldnt_start(std::string_view path, const Status& failed) {
  return failure_line("Couldn't start " + std::string(path), failed);
}

std::string couldnt_create_config(std::string_view config_path, const Status& failed) {
  return failure_line("mossbank: couldn't create " + std::string(config_path), failed);
}

std::string couldnt_write_vocations(std::string_view folder, const Status& failed) {
  return failure_line("mossbank: couldn't write the vocations in " + std::string(folder), failed);
}

std::string village_slow_to_start(std::string_view log_path) {
  return "Mossbank's village is slow to start; the agent starts now and joins it once it answers "
         "(see " +
         std::string(log_path) + ")\n";
}

std::string village_didnt_start(std::string_view log_path) {
  return "Mossbank's village didn't start; see " + std::string(log_path) + "\n";
}

std::string no_vocation(std::string_view id, const std::vector<std::string>& known) {
  std::string out = "No vocation \"" + std::string(id) + "\". Known: ";
  for (size_t i = 0; i < known.size(); ++i) {
    if (i > 0) out += ", ";
    out += known[i];
  }
  return out;
}

std::string os_error_text(const Status& failed) {
  return failed.text + " (os error " + std::to_string(failed.code) + ")";
}

std::string failure_line(std::string_view what, const Status& failed) {
  return std::string(what) + ": " + os_error_text(failed) + "\n";
}

std::optional<std::string> resume_hint(std::string_view what, std::string_view program,
                                       std::string_view session_id) {
  std::optional<std::vector<std::string>> args = resume_args(program, {}, session_id, {});
  if (!args) return std::nullopt;
  std::string out =
      "\nMossbank: " + std::string(what) + ". `" + std::string(last_path_component(program));
  for (const std::string& word : *args) out += " " + word;
  out += "` takes the conversation up again.";
  return out;
}

}  // namespace mossbank::run
