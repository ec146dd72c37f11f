// The median of a sliding window against the median of the window's values sorted afresh: the
// same number, to the last bit, for odd and even windows, repeated values, windows sliding by
// one or jumping, and windows that change length.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "assembly/SlidingMedian.h"

namespace quelmar {
namespace {

Real SortedMedian(const std::vector<Real>& values, int32_t from, int32_t to) {
  std::vector<double> w;
  for (int32_t j = from; j < to; ++j)
    w.push_back(static_cast<double>(values[static_cast<size_t>(j)]));
  std::sort(w.begin(), w.end());
  const size_t mid = w.size() / 2;
  if (w.size() % 2 == 1) return w[mid];
  return (static_cast<Real>(w[mid - 1]) + w[mid]) / 2;
}

TEST(SlidingMedian, IsTheMedianOfTheWindowSortedAfresh) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    const auto n = static_cast<int32_t>(1 + random() % (trial % 2 == 0 ? 120 : 700));
    std::vector<Real> values(static_cast<size_t>(n));
    // Some sequences of few distinct values (ties), some of a travel with its scatter.
    const bool ties = trial % 3 == 0;
    for (Real& v : values) {
      v = ties ? static_cast<Real>(random() % 4)
               : 11.3L + static_cast<Real>(std::normal_distribution<double>(0, 0.05)(random));
    }
    const ValueRanks ranks(values);
    SlidingMedian window(ranks);
    int32_t from = 0, length = static_cast<int32_t>(1 + random() % static_cast<uint32_t>(n));
    while (from + length <= n) {
      window.MoveTo(from, from + length);
      ASSERT_EQ(window.Median(), SortedMedian(values, from, from + length))
          << "trial " << trial << ", values " << from << " to " << from + length;
      // Mostly a step of one; now and then none, a jump, or another length.
      const uint32_t kind = random() % 10;
      if (kind == 0) {
        from += static_cast<int32_t>(random() % 20);
      } else if (kind == 1 && length > 1) {
        length -= 1;
      } else if (kind == 2) {
        length += 1;
      } else if (kind != 3) {
        from += 1;
      }
    }
  }
}

}  // namespace
}  // namespace quelmar
