#pragma once
// How far a band's stack, corrected horizontally and vertically, lies from the scene the
// simulator flew over: the mean absolute grey difference over the pixels with data. Pixel (X, Y)
// of such a stack shows world (X - the strip's centre column, Y + 1 - H / 2 - O) of its band
// (Simulator.h), in the band's own pixels (an ultraviolet one counts 4 visible pixels), when the
// stack's travels are the true ones; a wrong travel moves the framelets off it.
#include <cstdint>
#include <string>

#include "Simulator.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"

namespace quelmar::testing {

struct StackTruth {
  double meanError = 1e9;
  int64_t pixels = 0;
};

// The stack of `band` with the given travels against the truth, over the columns within `half`
// visible pixels of the centre (all of an ultraviolet band's).
StackTruth CorrectedStackError(const sim::SimulatedProduct& sim, const LoadedProduct& product,
                               int32_t band, Real vertical, Real horizontal,
                               const std::string& settingsPath, int32_t half = 256);

}  // namespace quelmar::testing
