#pragma once
// The registration of one band of a colour picture on the reference band's grid: where a
// reference pixel's ground lies in the band's own stack, and the measurement of what the camera
// geometry alone gets wrong there.
#include <cstdint>
#include <vector>

#include "assembly/BandSampler.h"
#include "assembly/ColourComposite.h"
#include "assembly/SubpixelMatch.h"
#include "util/Numbers.h"

namespace quelmar {

// Reference pixel (X, Y) lies at the band's stack position
//   x = XStep x X + X0 + Dx + DxPerRow x (Y - MiddleRow),
//   y = YStep x Y + Y0 + Dy + DyPerRow x (Y - MiddleRow).
struct ChannelTransform {
  Real XStep = 1, X0 = 0, YStep = 1, Y0 = 0;
  Real Dx = 0, Dy = 0, DxPerRow = 0, DyPerRow = 0;
  Real MiddleRow = 0;
};

// The transform the camera geometry predicts from the two bands' placements on the ground.
ChannelTransform PredictedTransform(const BandPlacement& reference, const BandPlacement& band,
                                    int32_t height);

// Samples rows first..first + count - 1 of the reference grid (width columns) from the band,
// reading through (and filling) a row cache kept for the band's rows: values x 16, -1 where the
// band has no data.
std::vector<int16_t> SampleChannel(const BandSampler& band, const ChannelTransform& transform,
                                   int32_t width, int32_t firstRow, int32_t count,
                                   BandSampler::RowCache& cache);

// One row of the reference grid (width columns) sampled from the band into out, reusing what
// the cache holds of earlier rows.
void SampleChannelRow(const BandSampler& band, const ChannelTransform& transform, int32_t width,
                      int32_t row, int16_t* out, BandSampler::RowCache& cache);

// The reference band's measuring windows along the strip (sampled with its own transform on
// the reference grid of width x height pixels), the same for every channel and pass: read once,
// by every thread at once.
struct ReferenceWindows {
  std::vector<GreyImage> Images;
  int32_t Width = 0, Height = 0;  // the reference grid's
};
// The windows of the grid, not yet read; then each of `parts` threads reads its share of their
// rows (all rows at one place within their framelets: what they read is worked out by one
// thread).
ReferenceWindows ReferenceWindowsOf(int32_t width, int32_t height);
void ReadReferenceWindows(const BandSampler& reference, const ChannelTransform& referenceTransform,
                          int32_t part, int32_t parts, ReferenceWindows& windows);

// Measures the band against the reference band's windows and folds the correction into
// `transform`; fills the registration record.
void RegisterChannel(const BandSampler& band, const ReferenceWindows& referenceWindows,
                     int32_t width, int32_t height, ChannelTransform& transform,
                     ChannelRegistration& record);

}  // namespace quelmar
