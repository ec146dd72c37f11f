// A band read at sub-pixel positions: rows that reuse what earlier rows worked out (the row cache
// of a corrected band) read exactly what the rows worked out afresh read, on products long
// enough for the cache to be used, with and without a drift, for visible and ultraviolet bands.
#include <gtest/gtest.h>

#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/BandSampler.h"
#include "assembly/CameraSettings.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;

TEST(BandSampler, CachedCorrectedRowsReadWhatFreshRowsRead) {
  TempDir dir;
  sim::SimulatorOptions options;
  options.kind = sim::ProductKind::CE;
  options.framelets = 40;
  options.seed = 11;
  const sim::SimulatedProduct simulated = sim::SimulateProduct(options);
  const std::string path = dir.File(sim::ProductFileName(simulated));
  testing::WriteFileBytes(path, sim::ProductFileBytes(simulated));
  ScriptedPort port;
  LoadedProduct product;
  ASSERT_EQ(LoadEdrProduct(path, product, port, nullptr), LoadOutcome::ImageRead);
  const CameraSettings settings = ReadCameraSettings(dir.File("no-settings-here.ini"));

  // Without a horizontal travel the rows of every framelet read alike; with one they do not.
  for (const bool invert : {false, true}) {
    for (const int32_t band : {1, 5}) {
      for (const Real across : {0.0L, 1.0L}) {
        const bool uv = band <= 2;
        BandSamplerRequest request;
        request.Band = band;
        request.VerticalTravel = uv ? 11.0L / 4 : 11;
        request.HorizontalTravel = uv ? across / 4 : across;
        request.Invert = invert;
        request.CorrectDistortion = request.CorrectVertically = true;
        const BandSampler sampler(product, request, settings, port);
        const int32_t width = sampler.StackWidth() + 8;
        // Whole rows at a fractional place (the cache is used), then a drift (it is not).
        for (const Real drift : {0.0L, 0.0013L}) {
          BandSampler::RowCache cache;
          std::vector<int16_t> fresh(static_cast<size_t>(width)),
              cached(static_cast<size_t>(width));
          int64_t compared = 0;
          for (int32_t row = 0; row < sampler.StackHeight(); ++row) {
            const Real y = row + 0.37L + drift * row, x0 = -4.3L + drift * row;
            const Real dx = uv ? 0.25L : 1;
            sampler.SampleRow(y, x0, dx, width, fresh.data());
            sampler.SampleRow(y, x0, dx, width, cached.data(), cache);
            ASSERT_EQ(fresh, cached) << "band " << band << " row " << row << " drift " << drift;
            for (const int16_t v : fresh) compared += v >= 0;
          }
          EXPECT_GT(compared, int64_t{sampler.StackHeight()} * sampler.StackWidth() / 2);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quelmar
