#pragma once
// What the picture on screen shows; written only by DisplayImage, read by Save.
#include <string>

#include "util/Numbers.h"

namespace quelmar {

struct DisplayedImageInfo {
  std::string Wavelength;
  Real VStep = 0;
  Real HStep = 0;
  bool Stacked = false;
  bool UvBand = false;
  bool Inverted = false;
  std::string Correction;
};

}  // namespace quelmar
