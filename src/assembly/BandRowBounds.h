#pragma once
// The rows each colour band occupies within a framelet, and the strip of one band.
#include <cstdint>
#include <vector>

namespace quelmar {

// BandCount + 1 row numbers within a framelet: band g (1-based) occupies rows
// bounds[g - 1] up to but not including bounds[g]. Known counts (1, 2, 5, 7) give the camera's
// layout; any other count gives 0 first, FrameletHeight last and 0 between. Only the entries
// that a band number can reach (bands 1..7) are kept for larger counts.
std::vector<int32_t> BandRowBounds(int32_t bandCount, int32_t frameletHeight);

// The strip of one band: first framelet row T, the row after its last B, its height H = B - T.
struct BandStrip {
  int32_t T = 0;
  int32_t B = 0;
  int32_t H = 0;
};

// The strip of band `band` (1-based) from the bound table; RangeError when the band is outside
// 1..bandCount, above 7 (the number of wavelengths a product holds) or has no rows.
BandStrip StripOfBand(const std::vector<int32_t>& bounds, int32_t bandCount, int32_t band);

}  // namespace quelmar
