// Tables of inclusive code-point ranges, sorted and apart, and the lookup they
// are for: character width tables in the terminal and in the screen readers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <span>

namespace mossbank {

struct CodeRange {
  char32_t first;
  char32_t last;
};

// Whether every range is well formed and lies after the one before it, which
// is what in_code_ranges needs: check it once, as a static_assert.
constexpr bool sorted_and_apart(std::span<const CodeRange> ranges) {
  for (size_t k = 0; k < ranges.size(); ++k) {
    if (ranges[k].first > ranges[k].last) return false;
    if (k > 0 && ranges[k - 1].last >= ranges[k].first) return false;
  }
  return true;
}

// Whether c lies in one of the ranges, by binary search.
inline bool in_code_ranges(std::span<const CodeRange> ranges, char32_t c) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), c,
                             [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != ranges.begin() && c <= std::prev(it)->last;
}

}  // namespace mossbank
