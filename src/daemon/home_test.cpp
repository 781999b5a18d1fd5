#include "daemon/home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace mossbank {
namespace {

// Sets or clears environment variables for one test and restores them after.
class EnvGuard {
 public:
  void set(const char* name, std::optional<std::string> value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

struct LanguageCase {
  std::optional<std::string> mossbank_lang, lc_all, lc_messages, lang;
  UiLanguage expected;
};

TEST(UiLanguage, FollowsMossbankLangThenTheLocale) {
  using L = UiLanguage;
  const std::nullopt_t unset = std::nullopt;
  const LanguageCase cases[] = {
      {unset, unset, unset, unset, L::English},
      {"ko", unset, unset, unset, L::Korean},
      {"KO", unset, unset, "en_US.UTF-8", L::Korean},
      {"\xE2\x84\xAAO", unset, unset, unset, L::Korean},  // Kelvin sign lower-cases to k
      {"en", unset, unset, "ko_KR.UTF-8", L::English},
      {"fr", unset, unset, "ko", L::Korean},
      {"", unset, unset, "ko", L::Korean},
      {"ko_KR", unset, unset, unset, L::English},  // not exactly "ko": the locale decides
      {unset, unset, unset, "ko_KR.UTF-8", L::Korean},
      {unset, unset, unset, "KO", L::Korean},
      {unset, unset, unset, "korean", L::Korean},
      {unset, unset, unset, "k", L::English},
      {unset, unset, unset, "C", L::English},
      {unset, unset, unset, "en_US.UTF-8", L::English},
      {unset, "", "ko_KR", "en_US", L::Korean},  // empty LC_ALL is skipped
      {unset, "en_US", "ko_KR", unset, L::English},
      {unset, "\xFF\xFE", unset, "ko", L::Korean},  // invalid UTF-8 counts as unset
  };
  for (const auto& c : cases) {
    EnvGuard env;
    env.set("MOSSBANK_LANG", c.mossbank_lang);
    env.set("LC_ALL", c.lc_all);
    env.set("LC_MESSAGES", c.lc_messages);
    env.set("LANG", c.lang);
    EXPECT_EQ(ui_language(), c.expected)
        << "MOSSBANK_LANG=" << c.mossbank_lang.value_or("<unset>")
        << " LC_ALL=" << c.lc_all.value_or("<unset>") << " LANG=" << c.lang.value_or("<unset>");
  }
}

TEST(HomeDir, MossbankHomeWinsAndIsTakenExactly) {
  EnvGuard env;
  env.set("MOSSBANK_HOME", "/tmp/some where/");
  EXPECT_EQ(home_dir(), "/tmp/some where/");
  env.set("MOSSBANK_HOME", "");
  EXPECT_EQ(home_dir(), "");
  env.set("MOSSBANK_HOME", std::nullopt);
  env.set("HOME", "/home/tester");
  EXPECT_EQ(home_dir(), "/home/tester/.mossbank");
  env.set("HOME", "");  // empty HOME falls back to the password database
  EXPECT_FALSE(home_dir().empty());
  EXPECT_NE(home_dir(), "/.mossbank/");
}

TEST(HomePath, JoinsLikeAPath) {
  EXPECT_EQ(home_path("", "config.json"), "config.json");
  EXPECT_EQ(home_path("/a", "config.json"), "/a/config.json");
  EXPECT_EQ(home_path("/a/", "config.json"), "/a/config.json");
}

TEST(VillageOff, AnyEntryCounts) {
  char tmpl[] = "/tmp/mossbank-home-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string home = tmpl;
  EXPECT_FALSE(village_off(home));
  ASSERT_EQ(mkdir((home + "/village-off").c_str(), 0700), 0);  // a directory counts too
  EXPECT_TRUE(village_off(home));
  rmdir((home + "/village-off").c_str());
  ASSERT_EQ(symlink("/nonexistent/target", (home + "/village-off").c_str()), 0);
  EXPECT_FALSE(village_off(home));  // a dangling link does not
  unlink((home + "/village-off").c_str());
  rmdir(home.c_str());
}

}  // namespace
}  // namespace mossbank
