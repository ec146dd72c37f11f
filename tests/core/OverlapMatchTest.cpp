// The travel finder's quick pair match against the general one, on strips in runs of columns,
// and the strips read at chosen columns against the whole strips.
#include <gtest/gtest.h>
#include <algorithm>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/OverlapMatch.h"
#include "assembly/StackStrips.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/Simulated.h"
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
// quick match finds what the general one finds, and the truth, with half the work where the
// overlap allows it.
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
      if (dy <= 2) {
        // Strips sharing three rows or more: two of the four grids sample enough rows, about
        // half the general match's samples.
        EXPECT_GE(quick.Overlap, general.Overlap * 45 / 100);
        EXPECT_LE(quick.Overlap, general.Overlap * 55 / 100);
        continue;
      }
      // Thinner overlaps: all four grids, as the general match. It leaves out the first and last
      // columns (no central slope there).
      EXPECT_NEAR(quick.Residual, general.Residual, 1e-3);
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

// Strips of a rough scene (detail as fine as a pixel) sharing half a row, or a row and a half:
// on the grids half-way between rows the match leans toward more overlap; on each strip's whole
// rows it does not. Plain and wide vectors give the same sums.
TEST(OverlapMatch, ThinOverlapsOnWholeRowsDoNotLeanTowardMoreOverlap) {
  // White noise on a grid of half pixels, softened over two of them, then binned 2 x 2: a strip
  // seen from a half-pixel offset is the same scene.
  constexpr int32_t kWidth = 128, kHeight = 14;
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 30.0f);
  const auto strips = [&](int32_t halfRows) {
    const int32_t w = 2 * kWidth + 2, h = 2 * kHeight + halfRows + 2;
    std::vector<float> fine(static_cast<size_t>(w) * h);
    for (float& v : fine) v = noise(random);
    std::vector<float> soft(fine.size());
    for (int32_t y = 0; y + 1 < h; ++y)
      for (int32_t x = 0; x + 1 < w; ++x) {
        const auto at = [&](int32_t i, int32_t j) { return fine[static_cast<size_t>(j) * w + i]; };
        soft[static_cast<size_t>(y) * w + x] =
            (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4;
      }
    const auto bin = [&](int32_t y0) {
      GreyImage g(kWidth, kHeight);
      for (int32_t r = 0; r < kHeight; ++r)
        for (int32_t c = 0; c < kWidth; ++c) {
          float sum = 0;
          for (int32_t j = 0; j < 2; ++j)
            for (int32_t i = 0; i < 2; ++i)
              sum += soft[static_cast<size_t>(y0 + 2 * r + j) * w + 2 * c + i];
          g.At(c, r) = 128 + sum / 4;
        }
      return g;
    };
    return std::pair{PrepareStrip(bin(0)), PrepareStrip(bin(halfRows))};
  };
  ShiftSearch search;
  search.Tolerance = 1e-4;
  search.MaxIterations = 30;
  for (const int32_t halfRows : {25, 23}) {  // 12.5 and 11.5 rows apart
    SCOPED_TRACE(halfRows);
    const double truth = halfRows / 2.0;
    double halfWay = 0, whole = 0;
    constexpr int kTrials = 30;
    for (int trial = 0; trial < kTrials; ++trial) {
      const auto [a, b] = strips(halfRows);
      const ShiftEstimate h = RefineOverlap(a, b, 0, truth + 0.2, search);
      const ShiftEstimate o = RefineOverlap(a, b, 0, truth + 0.2, search, MatchRows::Whole);
      ASSERT_TRUE(h.Found() && o.Found());
      halfWay += (h.Dy - truth) / kTrials;
      whole += (o.Dy - truth) / kTrials;
      UseWideVectors(false);
      const ShiftEstimate plain = RefineOverlap(a, b, 0, truth + 0.2, search, MatchRows::Whole);
      UseWideVectors(true);
      EXPECT_EQ(plain.Dy, o.Dy);
      EXPECT_EQ(plain.Residual, o.Residual);
    }
    EXPECT_LT(halfWay, -0.03);
    EXPECT_NEAR(whole, 0, 0.01);
  }
}

// A strip softened and prepared in storage used before: softened where the blend has data, its
// slopes down the columns by the careful rule (one-sided beside no data and at the first and last
// rows), along the rows central or none; nothing left over from the strip before.
TEST(OverlapMatch, SoftenedStripsKeepTheCarefulSlopesInReusedStorage) {
  GreyImage raw = View(30, 6, 3, 1, {0, 12, 13, 29});
  raw.At(20, 0) = kNaN;  // a pixel alone without data, on the first row
  raw.At(7, 3) = kNaN;
  MatchStrip strip = PrepareStrip(View(50, 9, 0, 0));
  PrepareSoftenedStrip(raw, strip);
  ASSERT_EQ(strip.Image.Width, 30);
  ASSERT_EQ(strip.Image.Height, 6);
  ASSERT_EQ(strip.Slopes.X.Values.size(), raw.Values.size());
  const Gradients careful = GradientsOf(strip.Image);
  const auto same = [](float got, float want) {
    return std::isnan(want) ? std::isnan(got) : got == want;
  };
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 30; ++x) {
      SCOPED_TRACE(::testing::Message() << x << ", " << y);
      const float left = x > 0 ? raw.At(x - 1, y) : kNaN, here = raw.At(x, y);
      const float right = x < 29 ? raw.At(x + 1, y) : kNaN;
      const float blend = 0.25f * left + 0.5f * here + 0.25f * right;
      EXPECT_TRUE(same(strip.Image.At(x, y), std::isnan(blend) ? here : blend));
      EXPECT_TRUE(same(strip.Slopes.Y.At(x, y), careful.Y.At(x, y)));
      const float l = x > 0 ? strip.Image.At(x - 1, y) : kNaN;
      const float r = x < 29 ? strip.Image.At(x + 1, y) : kNaN;
      const float along = std::isnan(strip.Image.At(x, y)) ? kNaN : 0.5f * (r - l);
      EXPECT_TRUE(same(strip.Slopes.X.At(x, y), along));
    }
  }
  // The same as a strip prepared afresh, and without the wider vectors.
  const MatchStrip fresh = PrepareStrip(strip.Image);
  UseWideVectors(false);
  MatchStrip plain;
  PrepareSoftenedStrip(raw, plain);
  UseWideVectors(true);
  EXPECT_EQ(fresh.Slopes.Y.Values.size(), strip.Slopes.Y.Values.size());
  for (size_t i = 0; i < fresh.Slopes.Y.Values.size(); ++i) {
    EXPECT_TRUE(same(strip.Slopes.X.Values[i], fresh.Slopes.X.Values[i]));
    EXPECT_TRUE(same(strip.Slopes.Y.Values[i], fresh.Slopes.Y.Values[i]));
    EXPECT_TRUE(same(strip.Image.Values[i], plain.Image.Values[i]));
    EXPECT_TRUE(same(strip.Slopes.X.Values[i], plain.Slopes.X.Values[i]));
    EXPECT_TRUE(same(strip.Slopes.Y.Values[i], plain.Slopes.Y.Values[i]));
  }
}

// A strip sharpened along its rows: each sample less the mean of its neighbours, no data at the
// row's ends and beside no data, alike with and without the wider vectors, into reused storage.
TEST(OverlapMatch, SharpenedRowsKeepTheFineDetailAndNoData) {
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  GreyImage raw(37, 3);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> level(0, 255);
  for (float& v : raw.Values) v = level(rng);
  raw.At(10, 1) = kNaN;
  for (int32_t x = 0; x < raw.Width; ++x) raw.At(x, 2) = 3.0f * static_cast<float>(x) + 40.0f;
  GreyImage wide(5, 5), plain;  // storage of another size is reused
  SharpenRows(raw, wide);
  UseWideVectors(false);
  SharpenRows(raw, plain);
  UseWideVectors(true);
  ASSERT_EQ(wide.Width, raw.Width);
  ASSERT_EQ(wide.Height, raw.Height);
  for (int32_t y = 0; y < raw.Height; ++y) {
    for (int32_t x = 0; x < raw.Width; ++x) {
      SCOPED_TRACE(::testing::Message() << x << ", " << y);
      const bool none = x == 0 || x == raw.Width - 1 || (y == 1 && x >= 9 && x <= 11);
      if (none) {
        EXPECT_TRUE(std::isnan(wide.At(x, y)));
      } else {
        EXPECT_FLOAT_EQ(wide.At(x, y), raw.At(x, y) - 0.5f * (raw.At(x - 1, y) + raw.At(x + 1, y)));
      }
      EXPECT_TRUE(std::isnan(plain.At(x, y)) == std::isnan(wide.At(x, y)));
      if (!std::isnan(wide.At(x, y))) {
        EXPECT_EQ(plain.At(x, y), wide.At(x, y));
      }
    }
  }
  // A ramp has no fine detail.
  for (int32_t x = 1; x + 1 < raw.Width; ++x) EXPECT_FLOAT_EQ(wide.At(x, 2), 0.0f);
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
    // The strips looked at while the empty columns are found are those Read gives from then on,
    // but for the empty columns, which Read gives without data: those where no strip looked at
    // has a sample above 0.
    std::vector<GreyImage> looked;
    const int32_t kept =
        strips->FindEmptyColumns(4, [&](const GreyImage& strip) { looked.push_back(strip); });
    ASSERT_EQ(looked.size(), 4u);
    std::vector<int32_t> empty;
    for (int32_t x = 0; x < strips->Width(); ++x) {
      bool any = false;
      for (const GreyImage& strip : looked)
        for (int32_t y = 0; y < strip.Height; ++y) any = any || strip.At(x, y) > 0;
      if (!any) empty.push_back(x);
    }
    EXPECT_EQ(strips->EmptyColumns(), empty);
    EXPECT_EQ(kept, strips->Width() - static_cast<int32_t>(empty.size()));
    for (int32_t f = 0; f < 4; ++f) {
      const GreyImage again = strips->Read(f, 0, strips->Height());
      ASSERT_EQ(again.Values.size(), looked[static_cast<size_t>(f)].Values.size());
      for (size_t i = 0; i < again.Values.size(); ++i) {
        const float a = again.Values[i], b = looked[static_cast<size_t>(f)].Values[i];
        const int32_t x = static_cast<int32_t>(i % static_cast<size_t>(again.Width));
        if (std::binary_search(empty.begin(), empty.end(), x)) {
          EXPECT_TRUE(std::isnan(a)) << f << " " << i;
          continue;
        }
        EXPECT_EQ(std::isnan(a), std::isnan(b)) << f << " " << i;
        if (!std::isnan(a)) {
          EXPECT_EQ(a, b) << f << " " << i;
        }
      }
    }
    std::vector<int32_t> columns = {-1, 0, 1, 2, 300, 301, -1, strips->Width() - 1, 5000};
    // Runs of neighbouring columns, read eight at a time where the processor can, one with a
    // column of no data inside.
    for (int32_t x = 100; x < 131; ++x) columns.push_back(x);
    columns.push_back(-1);
    for (int32_t x = 131; x < 150; ++x) columns.push_back(x);
    strips->SelectColumns(columns);
    GreyImage some;  // read into again and again, from a larger strip first
    strips->ReadColumnsInto(3, 0, strips->Height(), some);
    for (int32_t f = 0; f < 4; ++f) {
      const GreyImage whole = strips->Read(f, 1, strips->Height() - 2);
      strips->ReadColumnsInto(f, 1, strips->Height() - 2, some);
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
  // Uncorrected, an ultraviolet band's row holds zeros beside its samples: those columns are
  // found empty.
  StripGeometry uv;
  uv.Band = 1;
  std::string problem;
  std::optional<StackStrips> strips = StackStrips::Open(product, uv, port, problem);
  ASSERT_TRUE(strips) << problem;
  const int32_t kept = strips->FindEmptyColumns(4);
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, strips->Width());
}

// Found without a look at the strips (the first read whole, then only the columns it left
// without data), the empty columns are those a look at every strip finds: columns of no data in
// the first framelet alone keep theirs, columns of none anywhere are empty. The columns chosen
// before are read as before.
TEST(OverlapMatch, EmptyColumnsFoundWithoutALookAreThoseFoundWithOne) {
  testing::TempDir dir;
  sim::SimulatorOptions o;
  o.kind = sim::ProductKind::CE;
  o.framelets = 6;
  o.seed = 5;
  sim::SimulatedProduct p = sim::SimulateProduct(o);
  for (int32_t row = 0; row < p.Lines(); ++row) {
    uint8_t* samples = p.image.data() + static_cast<size_t>(row) * static_cast<size_t>(p.width);
    if (row < p.frameletHeight) std::fill(samples + 300, samples + 340, uint8_t{0});
    std::fill(samples + 600, samples + 606, uint8_t{0});
  }
  const LoadedProduct product = testing::LoadSimulated(p, dir);
  ASSERT_TRUE(product.HasImage());
  testing::ScriptedPort port;
  for (int32_t mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE(mode);
    StripGeometry g;
    g.Band = mode == 3 ? 1 : 3;
    g.CorrectDistortion = g.CorrectVertically = mode >= 2;
    g.SettingsPath = dir.File("no-settings-here.ini");
    std::string problem;
    std::optional<StackStrips> strips = StackStrips::Open(product, g, port, problem);
    ASSERT_TRUE(strips) << problem;
    const int32_t looked = strips->FindEmptyColumns(6, [](const GreyImage&) {});
    const std::vector<int32_t> empty = strips->EmptyColumns();
    if (mode < 3) {
      EXPECT_FALSE(empty.empty());
      EXPECT_LT(empty.size(), 40u);  // not the columns of the first framelet's gap
    }
    std::vector<int32_t> columns;
    for (int32_t x = 280; x < 360; ++x) columns.push_back(x);
    strips->SelectColumns(columns);
    const GreyImage before = strips->ReadColumns(2, 0, strips->Height());
    EXPECT_EQ(strips->FindEmptyColumns(6), looked);
    EXPECT_EQ(strips->EmptyColumns(), empty);
    const GreyImage after = strips->ReadColumns(2, 0, strips->Height());
    ASSERT_EQ(after.Values.size(), before.Values.size());
    for (size_t i = 0; i < after.Values.size(); ++i) {
      EXPECT_TRUE(after.Values[i] == before.Values[i] ||
                  (std::isnan(after.Values[i]) && std::isnan(before.Values[i])))
          << i;
    }
  }
}

}  // namespace
}  // namespace quelmar
