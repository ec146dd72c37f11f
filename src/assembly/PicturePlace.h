#pragma once
// "Where am I": what lies under a point of the picture shown. For a raw picture, the framelet
// and the band row the point's row came from and the product's sample there.
#include <array>
#include <cstdint>
#include <string>

#include "assembly/DisplayedImage.h"
#include "assembly/Picture.h"
#include "product/LoadedProduct.h"

namespace quelmar {

struct PicturePlace {
  bool inside = false;  // false: the point is off the picture (nothing else is set)
  int32_t row = 0;      // picture row and column, counted from 1
  int32_t column = 0;
  std::array<uint8_t, 3> bgr{};  // the pixel shown
  bool raw = false;              // the fields below are set for a raw picture only
  int32_t framelet = 0;          // counted from 1
  int32_t band = 0;              // counted from 1; 0 when the row is in no band
  int32_t bandRow = 0;           // row within the band, counted from 1
  int32_t sample = 0;            // the product's sample the pixel shows
};

// The place under picture pixel (x, y), both counted from 0. The picture is taken for raw when
// `shown` says it is not stacked and its size is that of the product's framelet sequence.
PicturePlace LocatePlace(const LoadedProduct& product, const DisplayedImageInfo& shown,
                         const Picture& picture, int32_t x, int32_t y);

// The text of the status strip, e.g. "Row 812, col 40 | sample 87" and, for a raw picture, a
// second line "framelet 11, band 3 row 2"; a grey pixel of a stacked picture shows "value 87",
// a colour one "RGB 10,20,30". Empty off the picture.
std::string DescribePlace(const PicturePlace& place);

}  // namespace quelmar
