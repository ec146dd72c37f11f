// The travel finder's quick pair match against the general one, on strips in runs of columns,
// and the strips read at chosen columns against the whole strips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/OverlapMatch.h"
#include "assembly/StackStrips.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"

namespace quelmar {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

double Scene(double x, double y) {
  return 125 + 30 * std::sin(0.31 * x + 0.17 * y) + 25 * std::cos(0.23 * y - 0.11 * x + 1.0) +
         20 * std::sin(0.53 * x + 0.47 * y + 2.0) + 10 * std::cos(0.7 * y + 0.05 * x);
}

// A strip of the scene seen from (x0, y0); the columns in `gaps` have no data.
GreyImage View(int32_t width, int32_t height, double x0, double y0,
               const std::vector<int32_t>& gaps = {}) {
  GreyImage g(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) g.At(x, y) = static_cast<float>(Scene(x0 + x, y0 + y));
  for (int32_t x : gaps)
    for (int32_t y = 0; y < height; ++y) g.At(x, y) = kNaN;
  return g;
}

// Thin overlaps (a few rows in common), with and without columns of no data between runs: the
// quick match finds what the general one finds, and the truth.
TEST(OverlapMatch, AgreesWithTheGeneralMatchOnThinOverlaps) {
  std::vector<int32_t> gaps;
  for (int32_t x = 40; x < 46; ++x) gaps.push_back(x);
  for (int32_t x = 90; x < 96; ++x) gaps.push_back(x);
  ShiftSearch search;
  search.Tolerance = 1e-4;
  for (const auto& [dx, dy] :
       std::vector<std::pair<double, double>>{{0.37, 2.62}, {-1.5, 1.25}, {1.2, 3.4}, {0.0, 2.0}}) {
    for (bool runs : {false, true}) {
      SCOPED_TRACE(::testing::Message() << dx << ", " << dy << (runs ? " in runs" : ""));
      const std::vector<int32_t> none;
      const GreyImage a = View(140, 5, 0, 0, runs ? gaps : none);
      const GreyImage b = View(140, 5, dx, dy, runs ? gaps : none);
      const ShiftEstimate quick =
          RefineOverlap(PrepareStrip(a), PrepareStrip(b), dx + 0.3, dy - 0.3, search);
      ASSERT_TRUE(quick.Found()) << MatchVerdictText(quick.Verdict);
      EXPECT_NEAR(quick.Dx, dx, 0.01);
      EXPECT_NEAR(quick.Dy, dy, 0.01);
      // Without the wider vectors, the very same sums.
      UseWideVectors(false);
      const ShiftEstimate plain =
          RefineOverlap(PrepareStrip(a), PrepareStrip(b), dx + 0.3, dy - 0.3, search);
      UseWideVectors(true);
      EXPECT_EQ(plain.Dx, quick.Dx);
      EXPECT_EQ(plain.Dy, quick.Dy);
      EXPECT_EQ(plain.Residual, quick.Residual);
      EXPECT_EQ(plain.Contrast, quick.Contrast);
      EXPECT_EQ(plain.Overlap, quick.Overlap);
      if (runs) continue;  // the general match uses the columns beside a gap too
      const ShiftEstimate general = RefineShift(a, b, dx + 0.3, dy - 0.3, search);
      EXPECT_NEAR(quick.Dx, general.Dx, 1e-3);
      EXPECT_NEAR(quick.Dy, general.Dy, 1e-3);
      EXPECT_NEAR(quick.Residual, general.Residual, 1e-3);
      // The quick match leaves out the first and last columns (no central slope there).
      EXPECT_LE(quick.Overlap, general.Overlap);
      EXPECT_GE(quick.Overlap, general.Overlap * 97 / 100);
    }
  }
  // Nothing in common and nothing to match: the verdicts say so.
  const GreyImage flat = GreyImage(60, 4);
  GreyImage grey = flat;
  std::fill(grey.Values.begin(), grey.Values.end(), 80.0f);
  EXPECT_EQ(RefineOverlap(PrepareStrip(grey), PrepareStrip(grey), 0, 1, search).Verdict,
            MatchVerdict::NoTexture);
  EXPECT_EQ(RefineOverlap(PrepareStrip(flat), PrepareStrip(flat), 0, 1, search).Verdict,
            MatchVerdict::NoOverlap);
}

// Columns read on their own carry the very values of the whole strip, in every geometry, and
// columns of no data stay without.
TEST(OverlapMatch, StripsReadAtChosenColumnsMatchTheWholeStrips) {
  testing::TempDir dir;
  sim::SimulatorOptions o;
  o.kind = sim::ProductKind::CE;
  o.framelets = 4;
  o.seed = 5;
  const sim::SimulatedProduct p = sim::SimulateProduct(o);
  const std::string path = dir.File(sim::ProductFileName(p));
  testing::WriteFileBytes(path, sim::ProductFileBytes(p));
  testing::ScriptedPort port;
  LoadedProduct product;
  ASSERT_EQ(LoadEdrProduct(path, product, port, nullptr), LoadOutcome::ImageRead);
  for (int32_t mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE(mode);
    StripGeometry g;
    g.Band = mode == 3 ? 1 : 3;  // an ultraviolet band, with its columns of no data
    g.Invert = mode == 1;
    g.CorrectDistortion = mode >= 2;
    g.CorrectVertically = mode >= 2;
    g.SettingsPath = dir.File("no-settings-here.ini");
    std::string problem;
    std::optional<StackStrips> strips = StackStrips::Open(product, g, port, problem);
    ASSERT_TRUE(strips) << problem;
    strips->FindEmptyColumns(4);
    const std::vector<int32_t> columns = {-1, 0, 1, 2, 300, 301, -1, strips->Width() - 1, 5000};
    strips->SelectColumns(columns);
    for (int32_t f = 0; f < 4; ++f) {
      const GreyImage whole = strips->Read(f, 1, strips->Height() - 2);
      const GreyImage some = strips->ReadColumns(f, 1, strips->Height() - 2);
      ASSERT_EQ(some.Width, static_cast<int32_t>(columns.size()));
      ASSERT_EQ(some.Height, whole.Height);
      for (int32_t y = 0; y < some.Height; ++y)
        for (size_t i = 0; i < columns.size(); ++i) {
          const int32_t x = columns[i];
          const float got = some.At(static_cast<int32_t>(i), y);
          if (x < 0 || x >= strips->Width()) {
            EXPECT_TRUE(std::isnan(got));
            continue;
          }
          const float want = whole.At(x, y);
          if (std::isnan(want))
            EXPECT_TRUE(std::isnan(got)) << "column " << x << " line " << y;
          else
            EXPECT_EQ(got, want) << "column " << x << " line " << y;
        }
    }
  }
}

}  // namespace
}  // namespace quelmar
