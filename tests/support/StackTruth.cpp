#include "support/StackTruth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "assembly/PictureBuilder.h"
#include "support/ScriptedPort.h"

namespace quelmar::testing {

StackTruth CorrectedStackError(const sim::SimulatedProduct& sim, const LoadedProduct& product,
                               int32_t band, Real vertical, Real horizontal,
                               const std::string& settingsPath, int32_t half) {
  const sim::SimBand& b = sim.bands[static_cast<size_t>(band) - 1];
  PictureRequest r;
  r.Stacked = true;
  r.VerticalTravel = vertical;
  r.HorizontalTravel = horizontal;
  r.CorrectDistortion = r.CorrectVertically = true;
  r.ReadBand = [band] { return band; };
  r.ReadShift = [] { return 0; };
  r.SettingsPath = settingsPath;
  ScriptedPort port;
  DisplayedImageInfo displayed;
  Picture picture;
  StackTruth result;
  EXPECT_EQ(DisplayImage(product, r, port, displayed, picture), DisplayOutcome::Shown);
  if (picture.Width() == 0) return result;
  // The first framelet lies at the left of the extra width a sideways travel adds, or at its
  // right when the travel is to the left.
  const auto extra = static_cast<int32_t>(
      std::nearbyintl(std::fabs(horizontal) * static_cast<Real>(product.FrameletCount)));
  const int32_t centre = (picture.Width() - extra) / 2 + (horizontal < 0 ? extra : 0);
  const sim::GroundScene& scene = sim.scene;
  const double scale = b.ultraviolet ? 4.0 : 1.0;
  double sum = 0;
  for (int32_t y = 0; y < picture.Height(); ++y) {
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const uint8_t* px = picture.Row(y) + 3 * x;
      if (px[0] == 0 && px[1] == 0 && px[2] == 255) continue;  // no data
      double truth = 0;
      if (b.ultraviolet) {
        // What the binned band can show: the mean over the 4 x 4 pixels of one of its pixels.
        const double wx = scale * (x - centre),
                     wy = scale * (y + 1 - b.height / 2.0 - b.offsetPixels);
        if (!scene.ContainsWorld(static_cast<int32_t>(wx) - 2, static_cast<int32_t>(wy) - 2) ||
            !scene.ContainsWorld(static_cast<int32_t>(wx) + 2, static_cast<int32_t>(wy) + 2))
          continue;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx)
            truth += scene.SampleWorldInBand(wx + sx - 1.5, wy + sy - 1.5, b.colour) / 16;
      } else {
        const int32_t wx = x - centre;
        const auto wy = y + static_cast<int32_t>(std::lround(1 - b.height / 2.0 - b.offsetPixels));
        if (std::abs(wx) >= half || !scene.ContainsWorld(wx, wy)) continue;
        truth = scene.InBand(wx - scene.originX, wy - scene.originY, b.colour);
      }
      sum += std::abs(px[0] - std::min(b.gain * truth, 255.0));
      ++result.pixels;
    }
  }
  if (result.pixels > 0) result.meanError = sum / static_cast<double>(result.pixels);
  return result;
}

}  // namespace quelmar::testing
