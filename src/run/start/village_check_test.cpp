#include "run/start/village_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "daemon/proof.h"
#include "run/testing/test_waits.h"

namespace mossbank::run {
namespace {

constexpr uint16_t kPort = 4827;
const std::string kToken = "0123456789abcdef0123456789abcdef";
const std::string kNonce = "00112233445566778899aabbccddeeff";

std::string health_body(const std::string& rest, const std::string& proof) {
  std::string body = "{\"app\":\"mossbank\"";
  if (!proof.empty()) body += ",\"proof\":\"" + proof + "\"";
  if (!rest.empty()) body += "," + rest;
  return body + "}";
}

TEST(HealthIsGood, ProofApiAndVersion) {
  const std::string right = proof_hmac_hex(kToken, kPort, kNonce);
  const std::string wrong = proof_hmac_hex(kToken + "x", kPort, kNonce);
  const struct {
    std::string body;
    bool healthy;
  } cases[] = {
      {health_body("\"api\":211,\"version\":\"0.22.6\"", right), true},
      {health_body("\"api\":212.5,\"version\":\"0.23.0\"", right), true},
      {health_body("\"api\":210,\"version\":\"0.22.6\"", right), false},
      {health_body("\"api\":\"211\",\"version\":\"0.22.6\"", right), false},
      {health_body("\"version\":\"0.22.6\"", right), false},
      {health_body("\"api\":211,\"version\":\"0.22.6\"", wrong), false},
      {health_body("\"api\":211,\"version\":\"0.22.6\"", ""), false},
      {health_body("\"api\":211,\"version\":\"0.22.5\"", right), false},
      {health_body("\"api\":211,\"version\":\"0.22.6-beta\"", right), false},
      {health_body("\"api\":211,\"version\":\"0.22.6+build.7\"", right), true},
      {health_body("\"api\":211,\"version\":\"dev\"", right), true},
      {health_body("\"api\":211,\"version\":22", right), false},  // counts as 0.0.0
      {health_body("\"api\":211", right), false},
      {"{\"app\":\"village\",\"api\":211,\"version\":\"0.22.6\",\"proof\":\"" + right + "\"}",
       false},
      {"[]", false},
      {"not json", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(health_is_good(c.body, kToken, kPort, kNonce, "0.22.6"), c.healthy) << c.body;
  }
  const std::string body = health_body("\"api\":211,\"version\":\"0.22.6\"", right);
  EXPECT_FALSE(health_is_good(body, "", kPort, kNonce, "0.22.6"));
  EXPECT_TRUE(health_is_good(body, kToken, kPort, kNonce, "not-a-version"));
  EXPECT_FALSE(health_is_good(body, kToken, kPort + 1, kNonce, "0.22.6"));
}

TEST(SemverLower, Precedence) {
  const struct {
    const char* a;
    const char* b;
    bool lower;
  } cases[] = {
      {"1.0.0", "2.0.0", true},
      {"2.0.0", "1.9.9", false},
      {"1.2.3", "1.2.3", false},
      {"1.0.0-alpha", "1.0.0", true},
      {"1.0.0", "1.0.0-alpha", false},
      {"1.0.0-alpha", "1.0.0-alpha.1", true},
      {"1.0.0-alpha.1", "1.0.0-alpha.beta", true},
      {"1.0.0-alpha.beta", "1.0.0-beta", true},
      {"1.0.0-beta.2", "1.0.0-beta.11", true},
      {"1.0.0-beta.11", "1.0.0-rc.1", true},
      {"1.0.0-rc.1", "1.0.0-rc.1", false},
      {"1.0.0+a", "1.0.0+b", false},
      {"1.0.0-1", "1.0.0-a", true},
      {"1.0.0-B", "1.0.0-a", true},
      {"1.0.0-99999999999999999999", "1.0.0-100000000000000000000", true},
  };
  for (const auto& c : cases) {
    std::optional<SemVer> a = parse_semver(c.a), b = parse_semver(c.b);
    ASSERT_TRUE(a && b) << c.a << " " << c.b;
    EXPECT_EQ(semver_lower(*a, *b), c.lower) << c.a << " < " << c.b;
  }
}

// What a check said and did.
struct Recorder {
  std::vector<std::string> said;
  int pings = 0;
  int starts = 0;
};

VillageCheck make_check(Recorder& r, bool healthy, std::function<bool()> start) {
  VillageCheck check;
  check.healthy = [healthy] { return healthy; };
  check.start_app = std::make_shared<std::function<bool()>>([&r, start] {
    ++r.starts;
    return start();
  });
  check.ping_hooks = [&r] { ++r.pings; };
  check.say = [&r](std::string_view text) { r.said.emplace_back(text); };
  check.log_path = "/home/u/.mossbank/daemon.log";
  check.start_wait = std::chrono::hours(1);  // answers end the wait, not the clock
  return check;
}

TEST(CheckVillage, HealthyStartsNothing) {
  Recorder r;
  check_village(make_check(r, true, [] { return true; }));
  EXPECT_EQ(r.starts, 0);
  EXPECT_TRUE(r.said.empty());
  EXPECT_EQ(r.pings, 1);
}

TEST(CheckVillage, StartedSaysNothingAndFailedSaysSoAtOnce) {
  Recorder started;
  check_village(make_check(started, false, [] { return true; }));
  EXPECT_EQ(started.starts, 1);
  EXPECT_TRUE(started.said.empty());
  EXPECT_EQ(started.pings, 1);

  Recorder failed;
  check_village(make_check(failed, false, [] { return false; }));
  EXPECT_EQ(failed.said,
            std::vector<std::string>{
                "Mossbank's village didn't start; see /home/u/.mossbank/daemon.log\n"});
  EXPECT_EQ(failed.pings, 1);
}

TEST(CheckVillage, SlowStartIsLeftRunning) {
  // The start blocks until the test lets it go, after the check gave up.
  auto go = std::make_shared<testing::Gate>();
  auto returned = std::make_shared<testing::Gate>();
  Recorder r;
  VillageCheck check = make_check(r, false, [] { return true; });
  check.start_app = std::make_shared<std::function<bool()>>([go, returned] {
    go->wait();
    returned->open();
    return true;
  });
  check.start_wait = std::chrono::milliseconds(0);
  check_village(check);
  EXPECT_EQ(r.said,
            std::vector<std::string>{
                "Mossbank's village is slow to start; the agent starts now and joins it once "
                "it answers (see /home/u/.mossbank/daemon.log)\n"});
  EXPECT_EQ(r.pings, 1);
  go->open();
  returned->wait();  // its late answer goes nowhere
}

}  // namespace
}  // namespace mossbank::run
