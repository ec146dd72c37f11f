#include "assembly/SlidingMedian.h"

#include <algorithm>

namespace quelmar {

ValueRanks::ValueRanks(const std::vector<Real>& values) : rank_(values.size()) {
  std::vector<double> v;
  v.reserve(values.size());
  for (Real x : values) v.push_back(static_cast<double>(x));
  std::vector<int32_t> order(values.size());
  for (size_t j = 0; j < order.size(); ++j) order[j] = static_cast<int32_t>(j);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return v[static_cast<size_t>(a)] < v[static_cast<size_t>(b)];
  });
  sorted_.reserve(values.size());
  for (size_t r = 0; r < order.size(); ++r) {
    rank_[static_cast<size_t>(order[r])] = static_cast<int32_t>(r);
    sorted_.push_back(v[static_cast<size_t>(order[r])]);
  }
}

SlidingMedian::SlidingMedian(const ValueRanks& ranks) : ranks_(ranks), in_(ranks.Size(), 0) {}

void SlidingMedian::MoveTo(int32_t from, int32_t to) {
  if (from >= to_ || to - from != to_ - from_) {
    for (int32_t j = from_; j < to_; ++j) in_[static_cast<size_t>(ranks_.RankOf(j))] = 0;
    for (int32_t j = from; j < to; ++j) in_[static_cast<size_t>(ranks_.RankOf(j))] = 1;
    middle_ = (to - from) / 2;
    at_ = 0;
    below_ = 0;
  } else {
    // A window of the same length: each value leaving it gives its place to one coming in.
    for (int32_t j = from_; j < from; ++j) {
      const int32_t out = ranks_.RankOf(j), in = ranks_.RankOf(j + (to_ - from_));
      in_[static_cast<size_t>(out)] = 0;
      below_ -= out < at_ ? 1 : 0;
      in_[static_cast<size_t>(in)] = 1;
      below_ += in < at_ ? 1 : 0;
    }
  }
  from_ = from;
  to_ = to;
  if (to > from) Settle();
}

Real SlidingMedian::Median() const {
  if (to_ <= from_) return 0;
  if ((to_ - from_) % 2 == 1) return ranks_.ValueAt(at_);
  int32_t lower = at_ - 1;
  while (in_[static_cast<size_t>(lower)] == 0) --lower;
  return (static_cast<Real>(ranks_.ValueAt(lower)) + ranks_.ValueAt(at_)) / 2;
}

void SlidingMedian::Settle() {
  while (below_ > middle_) {
    do {
      --at_;
    } while (in_[static_cast<size_t>(at_)] == 0);
    --below_;
  }
  while (in_[static_cast<size_t>(at_)] == 0 || below_ < middle_) {
    below_ += in_[static_cast<size_t>(at_)];
    ++at_;
  }
}

}  // namespace quelmar
