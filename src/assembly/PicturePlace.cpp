#include "assembly/PicturePlace.h"

#include <vector>

#include "assembly/BandRowBounds.h"
#include "util/Numbers.h"

namespace quelmar {

PicturePlace LocatePlace(const LoadedProduct& product, const DisplayedImageInfo& shown,
                         const Picture& picture, int32_t x, int32_t y) {
  PicturePlace place;
  if (x < 0 || y < 0 || x >= picture.Width() || y >= picture.Height()) return place;
  place.inside = true;
  place.row = y + 1;
  place.column = x + 1;
  const uint8_t* p = picture.Row(y) + 3 * static_cast<size_t>(x);
  place.bgr = {p[0], p[1], p[2]};

  const int32_t fh = product.FrameletHeight;
  const bool rawLayout = !shown.Stacked && product.HasImage() && fh > 0 &&
                         product.Rows.Width() == picture.Width() &&
                         int64_t{product.FrameletCount} * fh == picture.Height() &&
                         picture.Height() <= product.Rows.Lines();
  if (!rawLayout) return place;
  place.raw = true;
  place.framelet = y / fh + 1;
  const int32_t shownRow = y % fh;
  // An inverted framelet shows its last row first.
  const int32_t frameletRow = shown.Inverted ? fh - 1 - shownRow : shownRow;
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, fh);
  for (size_t g = 1; g < bounds.size(); ++g) {
    if (frameletRow >= bounds[g - 1] && frameletRow < bounds[g]) {
      place.band = static_cast<int32_t>(g);
      place.bandRow = frameletRow - bounds[g - 1] + 1;
      break;
    }
  }
  place.sample = product.Rows.Row((place.framelet - 1) * fh + frameletRow)[x];
  return place;
}

std::string DescribePlace(const PicturePlace& place) {
  if (!place.inside) return {};
  std::string text = "Row " + FormatInt(place.row) + ", col " + FormatInt(place.column);
  if (place.raw) {
    // Two short lines, for the narrow strip: the pixel, then where its row came from.
    text += " | sample " + FormatInt(place.sample) + "\nframelet " + FormatInt(place.framelet);
    if (place.band > 0) {
      text += ", band " + FormatInt(place.band) + " row " + FormatInt(place.bandRow);
    }
    return text;
  }
  const auto& c = place.bgr;
  if (c[0] == c[1] && c[1] == c[2]) return text + " | value " + FormatInt(c[0]);
  return text + " | RGB " + FormatInt(c[2]) + "," + FormatInt(c[1]) + "," + FormatInt(c[0]);
}

}  // namespace quelmar
