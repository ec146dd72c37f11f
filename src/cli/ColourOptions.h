#pragma once
// The colour command's own options.
#include <array>
#include <cstdint>
#include <optional>

#include "util/Numbers.h"

namespace quelmar::cli {

struct ColourOptions {
  std::optional<std::array<int32_t, 3>> bands;  // nothing: 689, 604 and 415 nm where present
  int32_t reference = 0;                        // 0: the middle wavelength
  bool stretch = false;
  Real stretchLow = 1;
  Real stretchHigh = 99;
};

}  // namespace quelmar::cli
