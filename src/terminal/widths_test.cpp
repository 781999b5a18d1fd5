#include "terminal/widths.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "terminal/test_terminal.h"

namespace mossbank::term {
namespace {

// The reference is built from the range lists as written (testdata), not
// from the tables the code carries.
std::vector<std::pair<uint32_t, uint32_t>> ranges_named(const std::string& name) {
  std::istringstream in(testing::fixture("widths.txt"));
  std::string line;
  std::vector<std::pair<uint32_t, uint32_t>> out;
  while (std::getline(in, line)) {
    if (line.rfind(name + ": ", 0) != 0) continue;
    std::istringstream items(line.substr(name.size() + 2));
    std::string item;
    while (std::getline(items, item, ',')) {
      item.erase(0, item.find_first_not_of(' '));
      size_t dash = item.find('-');
      uint32_t a = std::stoul(item.substr(0, dash), nullptr, 16);
      uint32_t b = dash == std::string::npos ? a : std::stoul(item.substr(dash + 1), nullptr, 16);
      out.emplace_back(a, b);
    }
  }
  return out;
}

TEST(Widths, EveryCodePointMatchesTheListedRanges) {
  auto bmp_zero = ranges_named("bmp_zero"), bmp_wide = ranges_named("bmp_wide");
  auto supp_zero = ranges_named("supp_zero"), supp_wide = ranges_named("supp_wide");
  ASSERT_EQ(bmp_zero.size(), 214u);
  ASSERT_EQ(bmp_wide.size(), 61u);
  ASSERT_EQ(supp_zero.size(), 117u);
  ASSERT_EQ(supp_wide.size(), 53u);
  std::vector<uint8_t> want(0x110000, 1);
  for (uint32_t c = 0; c <= 0x1F; ++c) want[c] = 0;
  for (uint32_t c = 0x7F; c <= 0x9F; ++c) want[c] = 0;
  for (auto [a, b] : bmp_zero)
    for (uint32_t c = a; c <= b; ++c) want[c] = 0;
  for (auto [a, b] : bmp_wide)
    for (uint32_t c = a; c <= b; ++c) want[c] = 2;
  for (auto [a, b] : supp_wide)
    for (uint32_t c = a; c <= b; ++c) want[c] = 2;
  for (auto [a, b] : supp_zero)  // zero width wins above the BMP
    for (uint32_t c = a; c <= b; ++c) want[c] = 0;
  size_t mismatches = 0;
  for (uint32_t c = 0; c < 0x110000; ++c) {
    if (char_width(c) != want[c]) {
      if (++mismatches < 10) ADD_FAILURE() << std::hex << "U+" << c << " width " << char_width(c);
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(Widths, NamedCodePoints) {
  struct Case {
    uint32_t cp;
    uint32_t width;
  };
  const Case cases[] = {{0x0301, 0},  {0x1160, 0},  {0x200B, 0},  {0xFEFF, 0},  {0x4E00, 2},
                        {0xAC00, 2},  {0x3000, 2},  {0x303F, 1},  {0x1F600, 2}, {0x1F321, 1},
                        {0xE0041, 0}, {0x20000, 2}, {0x40000, 1}, {0x00A0, 1},  {0x00AD, 1},
                        {'a', 1},     {0x7F, 0},    {0x9F, 0},    {0x10FFFF, 1}};
  for (const Case& c : cases) EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
}

}  // namespace
}  // namespace mossbank::term
