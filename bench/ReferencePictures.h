#pragma once
// The pictures of the layout rules drawn in the plainest way, pixel by pixel, straight from the
// rules: the yardstick for the fast paths the benchmarks time.
#include <cstdint>
#include <string>

#include "assembly/Picture.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"

namespace quelmar::bench {

struct ReferenceRequest {
  bool stacked = false;
  int32_t band = 1;
  Real verticalTravel = 0;
  Real horizontalTravel = 0;
  bool invert = false;
  bool correct = false;
  bool vertical = false;
  int32_t shift = 0;
  std::string settingsPath;  // read when correcting
};

// The picture DisplayImage must build for the request.
Picture ReferencePicture(const LoadedProduct& product, const ReferenceRequest& request);

// The first pixel where two pictures differ ("x, y: (b, g, r) vs (b, g, r)"), row padding
// included, or their sizes when those differ; empty when they are equal.
std::string FirstDifference(const Picture& a, const Picture& b);

}  // namespace quelmar::bench
