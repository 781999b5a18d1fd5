#include "daemon/home.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/utf8.h"
#include "daemon/env_names.h"

namespace mossbank {

namespace {

// Unicode lower-casing, as far as it can turn a value into "ko" or "en": only
// ASCII letters and the Kelvin sign (U+212A, lower case "k") lower-case into
// ASCII; every other non-ASCII character stays non-ASCII.
std::string lower_for_language(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    char32_t cp = next_code_point(s, i);
    if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
    if (cp == 0x212A) cp = 'k';
    append_utf8(out, cp);
  }
  return out;
}

}  // namespace

std::optional<std::string> utf8_env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  std::string s(v);
  if (!is_valid_utf8(s)) return std::nullopt;
  return s;
}

std::string user_home() {
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') return h;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size < 0 ? 512 : static_cast<size_t>(size));
  struct passwd pw;
  struct passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr)
    return result->pw_dir;
  return "";
}

std::string home_dir() {
  if (auto h = utf8_env(env::kHome)) return *h;
  std::string home = user_home();
  if (home.empty()) return ".mossbank";
  return home_path(home, ".mossbank");
}

std::string home_path(const std::string& home, const std::string& name) {
  if (home.empty()) return name;
  if (home.back() == '/') return home + name;
  return home + "/" + name;
}

UiLanguage ui_language() {
  if (auto lang = utf8_env(env::kLang)) {
    std::string l = lower_for_language(*lang);
    if (l == "ko") return UiLanguage::Korean;
    if (l == "en") return UiLanguage::English;
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto v = utf8_env(name);
    if (!v || v->empty()) continue;
    const std::string& s = *v;
    if (s.size() < 2) return UiLanguage::English;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    bool ko = lower(s[0]) == 'k' && lower(s[1]) == 'o';
    // The third byte must begin a character, not continue one.
    if (ko && s.size() > 2 && (static_cast<unsigned char>(s[2]) & 0xC0) == 0x80) ko = false;
    return ko ? UiLanguage::Korean : UiLanguage::English;
  }
  return UiLanguage::English;
}

bool village_off(const std::string& home) {
  struct stat st;
  return stat(home_path(home, "village-off").c_str(), &st) == 0;
}

}  // namespace mossbank
