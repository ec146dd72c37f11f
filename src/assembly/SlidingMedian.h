#pragma once
// The median of a window sliding along a sequence of values (a travel profile's pairs): each move
// by one takes a value out and one in, and costs a few steps, not a sort of the window.
#include <cstdint>
#include <vector>

#include "util/Numbers.h"

namespace quelmar {

// The values of a sequence in order (in double precision, which holds each pair's travel as
// measured), and the place of each in that order.
class ValueRanks {
 public:
  explicit ValueRanks(const std::vector<Real>& values);
  size_t Size() const { return rank_.size(); }
  int32_t RankOf(int32_t j) const { return rank_[static_cast<size_t>(j)]; }
  double ValueAt(int32_t r) const { return sorted_[static_cast<size_t>(r)]; }

 private:
  std::vector<int32_t> rank_;
  std::vector<double> sorted_;
};

// A window of the sequence, its values marked in the sequence's order (a bit each) with a mark
// on its middle one: a move takes one value out and one in, and the middle moves on by one of
// them at most, past the values between that are not in the window (64 at a step).
class SlidingMedian {
 public:
  explicit SlidingMedian(const ValueRanks& ranks);
  // Moves the window to values [from, to) of the sequence (neither end ever moving back).
  void MoveTo(int32_t from, int32_t to);
  // The median of the window's values (of an even count, the mean of the middle two); 0 for an
  // empty window.
  Real Median() const;

 private:
  // Moves the mark to the value with middle_ values of the window before it in order.
  void Settle();
  void Mark(int32_t r, bool in);
  // The first place at or after r, and the last at or before r, whose value is in the window
  // (there must be one).
  int32_t NextIn(int32_t r) const;
  int32_t LastIn(int32_t r) const;
  const ValueRanks& ranks_;
  std::vector<uint64_t> in_;  // by place in order, a bit each: whether that value is in the window
  int32_t from_ = 0, to_ = 0;
  int32_t middle_ = 0;  // values of the window before its middle one
  int32_t at_ = 0;      // the middle one's place in order
  int32_t below_ = 0;   // values of the window before place at_
};

}  // namespace quelmar
