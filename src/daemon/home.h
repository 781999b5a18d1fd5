// Where the tool keeps its files, which language it speaks, and whether the
// user has switched the village off. Nothing is cached: each call reads the
// environment and the file system afresh.
#pragma once

#include <optional>
#include <string>

namespace mossbank {

enum class UiLanguage { English, Korean };

// An environment variable's value; none when unset or not valid UTF-8.
std::optional<std::string> utf8_env(const char* name);

// MOSSBANK_HOME when set to valid UTF-8 (an empty value gives an empty path),
// otherwise the user's home joined with ".mossbank".
std::string home_dir();

// HOME when set and not empty, else the password database's entry, else "".
std::string user_home();

UiLanguage ui_language();

// True when <home>/village-off exists (any kind of entry, links followed).
bool village_off(const std::string& home);

// <home>/<name>, or just <name> when home is empty.
std::string home_path(const std::string& home, const std::string& name);

}  // namespace mossbank
