#include "base/status.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace mossbank {
namespace {

Result<int> half(int n) {
  if (n % 2 != 0) return failure(EINVAL, std::to_string(n) + " is odd");
  return n / 2;
}

TEST(Result, HoldsTheValueOrTheFailure) {
  Result<int> even = half(8);
  ASSERT_TRUE(even.ok());
  EXPECT_EQ(*even, 4);
  EXPECT_TRUE(even.status().ok());

  Result<int> odd = half(7);
  ASSERT_FALSE(odd.ok());
  EXPECT_EQ(odd.status().code, EINVAL);
  EXPECT_EQ(odd.status().text, "7 is odd");
}

TEST(Status, OsFailureKeepsTheErrnoAndTheSystemText) {
  const Status s = os_failure(ENOENT);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code, ENOENT);
  EXPECT_EQ(s.text, std::strerror(ENOENT));
  EXPECT_EQ(os_failure(0).code, EIO);  // a failure is never a success
  EXPECT_TRUE(ok_status().ok());
}

TEST(FatalDeathTest, SaysWhatBrokeAndAborts) {
  EXPECT_DEATH(fatal("the usage table does not parse"),
               "^mossbank: the usage table does not parse\n");
  EXPECT_DEATH((void)half(3).value(), "the value of a failed Result: 3 is odd");
  EXPECT_DEATH({ Result<int> r{ok_status()}; }, "a Result made from a success");
}

}  // namespace
}  // namespace mossbank
