#include "assembly/SlidingMedian.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

namespace quelmar {

ValueRanks::ValueRanks(const std::vector<Real>& values) : rank_(values.size()) {
  // Ordered by value, equal values by their place in the sequence: each value keyed by its bits
  // as an integer that orders as the value does (0 and -0 alike), then by its place.
  std::vector<std::pair<int64_t, int32_t>> order(values.size());
  for (size_t j = 0; j < values.size(); ++j) {
    const auto bits = std::bit_cast<int64_t>(static_cast<double>(values[j]) + 0.0);
    order[j] = {bits < 0 ? bits ^ INT64_MAX : bits, static_cast<int32_t>(j)};
  }
  std::sort(order.begin(), order.end());
  sorted_.reserve(values.size());
  for (size_t r = 0; r < order.size(); ++r) {
    const int32_t j = order[r].second;
    rank_[static_cast<size_t>(j)] = static_cast<int32_t>(r);
    sorted_.push_back(static_cast<double>(values[static_cast<size_t>(j)]));
  }
}

SlidingMedian::SlidingMedian(const ValueRanks& ranks)
    : ranks_(ranks), in_((ranks.Size() + 64) / 64, 0) {}

void SlidingMedian::Mark(int32_t r, bool in) {
  const uint64_t bit = uint64_t{1} << (r & 63);
  uint64_t& word = in_[static_cast<size_t>(r) >> 6];
  word = in ? word | bit : word & ~bit;
}

int32_t SlidingMedian::NextIn(int32_t r) const {
  size_t w = static_cast<size_t>(r) >> 6;
  uint64_t bits = in_[w] & (~uint64_t{0} << (r & 63));
  while (bits == 0) bits = in_[++w];
  return static_cast<int32_t>(w * 64) + std::countr_zero(bits);
}

int32_t SlidingMedian::LastIn(int32_t r) const {
  size_t w = static_cast<size_t>(r) >> 6;
  uint64_t bits = in_[w] & (~uint64_t{0} >> (63 - (r & 63)));
  while (bits == 0) bits = in_[--w];
  return static_cast<int32_t>(w * 64) + 63 - std::countl_zero(bits);
}

void SlidingMedian::MoveTo(int32_t from, int32_t to) {
  if (from >= to_ || to - from != to_ - from_) {
    for (int32_t j = from_; j < to_; ++j) Mark(ranks_.RankOf(j), false);
    for (int32_t j = from; j < to; ++j) Mark(ranks_.RankOf(j), true);
    middle_ = (to - from) / 2;
    at_ = 0;
    below_ = 0;
  } else {
    // A window of the same length: each value leaving it gives its place to one coming in.
    for (int32_t j = from_; j < from; ++j) {
      const int32_t out = ranks_.RankOf(j), in = ranks_.RankOf(j + (to_ - from_));
      Mark(out, false);
      below_ -= out < at_ ? 1 : 0;
      Mark(in, true);
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
  return (static_cast<Real>(ranks_.ValueAt(LastIn(at_ - 1))) + ranks_.ValueAt(at_)) / 2;
}

void SlidingMedian::Settle() {
  // Down past values of the window while too many lie before the mark; then up to the next value
  // of the window, and on past values until enough lie before it.
  while (below_ > middle_) {
    at_ = LastIn(at_ - 1);
    --below_;
  }
  at_ = NextIn(at_);
  while (below_ < middle_) {
    ++below_;
    at_ = NextIn(at_ + 1);
  }
}

}  // namespace quelmar
