#pragma once
// A travel that changes along a product: the travel between each pair of consecutive framelets,
// and where a stack with it lays each framelet.
#include <cstdint>
#include <vector>

#include "util/Numbers.h"

namespace quelmar {

// Per framelet pair (framelets f and f + 1, from 0): rows and columns the later one lies below
// and to the right of the earlier one. Empty: one constant travel (the request's own).
struct TravelProfile {
  std::vector<Real> Vertical;
  std::vector<Real> Horizontal;
  bool Empty() const { return Vertical.empty(); }
};

// Where a stack with a travel profile lays its framelets, in the terms of the constant-travel
// layout: framelet f starts at picture row Round(sum of the vertical travels before it), each
// kept within 0 .. frameletHeight, and at the column of the sum of the horizontal travels before
// it, counted from the leftmost start (from the right end of the extra width when the product
// moves left overall). The extra width is the span of the starts times framelets / pairs, so a
// constant profile gives the constant travel's layout.
struct ProfileLayout {
  std::vector<int32_t> RowsTaken;  // per framelet; the last gives all its strip's rows
  std::vector<int32_t> Columns;    // first picture column of each framelet's strip
  int32_t Height = 0;
  int32_t ExtraWidth = 0;
  Real MeanVertical = 0;  // the travel over the whole product, per framelet
  Real MeanHorizontal = 0;
};

// RangeError when the profile does not have one entry per pair, an entry is not a finite number
// or the picture would not fit in 32-bit sizes.
ProfileLayout LayOutProfile(const TravelProfile& profile, int32_t framelets, int32_t frameletHeight,
                            int32_t stripHeight);

}  // namespace quelmar
