#include "assembly/BandRowBounds.h"

#include <algorithm>
#include <string>

#include "util/Errors.h"

namespace quelmar {

namespace {
// A product holds at most seven bands (and seven wavelength texts).
constexpr int32_t kMaxBands = 7;
}  // namespace

std::vector<int32_t> BandRowBounds(int32_t bandCount, int32_t frameletHeight) {
  switch (bandCount) {
    case 1:
      return {0, frameletHeight};
    case 2:
      return {0, 4, frameletHeight};
    case 5:
      return {0, 14, 28, 42, 56, frameletHeight};
    case 7:
      return {0, 4, 8, 22, 36, 50, 64, frameletHeight};
    default:
      break;
  }
  // Counts the loader never produces: first 0, last FrameletHeight, zeros between. A count above
  // seven keeps only the entries bands 1..7 can reach, so no absurd count allocates much.
  const int32_t kept = std::clamp<int32_t>(bandCount, 0, kMaxBands + 1);
  std::vector<int32_t> bounds(static_cast<size_t>(kept) + 1, 0);
  if (bandCount >= 0 && bandCount <= kMaxBands) bounds.back() = frameletHeight;
  return bounds;
}

BandStrip StripOfBand(const std::vector<int32_t>& bounds, int32_t bandCount, int32_t band) {
  const int32_t last = std::min(bandCount, kMaxBands);
  if (band < 1 || band > last || static_cast<size_t>(band) >= bounds.size()) {
    if (last < 1) {
      throw RangeError("Band " + std::to_string(band) +
                       " cannot be stacked: the product has no bands");
    }
    throw RangeError("Band " + std::to_string(band) +
                     " is outside the bands of this product (1 to " + std::to_string(last) + ")");
  }
  BandStrip strip;
  strip.T = bounds[static_cast<size_t>(band) - 1];
  strip.B = bounds[static_cast<size_t>(band)];
  strip.H = strip.B - strip.T;
  if (strip.H <= 0) {
    throw RangeError("Band " + std::to_string(band) +
                     " has no rows in this product's framelets (it would run from row " +
                     std::to_string(strip.T) + " to row " + std::to_string(strip.B - 1) + ")");
  }
  return strip;
}

}  // namespace quelmar
