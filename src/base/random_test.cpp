#include "base/random.h"

#include <gtest/gtest.h>

namespace mossbank {
namespace {

TEST(RandomHex, IsLowerCaseHexOfTheAskedLength) {
  auto a = random_hex(16);
  auto b = random_hex(16);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(a->find_first_not_of("0123456789abcdef"), std::string::npos);
  const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
  EXPECT_EQ(hex_lower(bytes, 4), "000fa0ff");
}

}  // namespace
}  // namespace mossbank
