#include "assembly/ColourRegistration.h"

namespace quelmar {

ChannelTransform PredictedTransform(const BandPlacement& reference, const BandPlacement& band,
                                    int32_t height) {
  ChannelTransform t;
  const Real k = reference.Scale / band.Scale;
  t.XStep = k;
  t.YStep = k;
  t.X0 = band.CentreX - k * reference.CentreX;
  t.Y0 = band.CentreY - k * reference.CentreY;
  t.MiddleRow = static_cast<Real>(height - 1) / 2;
  return t;
}

std::vector<int16_t> SampleChannel(const BandSampler& band, const ChannelTransform& t,
                                   int32_t width, int32_t firstRow, int32_t count) {
  std::vector<int16_t> plane(static_cast<size_t>(width) * static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const Real row = static_cast<Real>(firstRow + i);
    const Real along = row - t.MiddleRow;
    const Real y = t.YStep * row + t.Y0 + t.Dy + t.DyPerRow * along;
    const Real x0 = t.X0 + t.Dx + t.DxPerRow * along;
    band.SampleRow(y, x0, t.XStep, width, plane.data() + static_cast<size_t>(i) * width);
  }
  return plane;
}

void RegisterChannel(const BandSampler&, const std::vector<int16_t>&, int32_t, int32_t,
                     ChannelTransform&, ChannelRegistration& record) {
  record.Measured = false;
  record.Note = "no sub-pixel matcher";
}

}  // namespace quelmar
