// Sub-pixel sampling and shift estimation on images of a known smooth scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "assembly/SubpixelMatch.h"

namespace quelmar {
namespace {

// A smooth, textured scene with detail in every direction, grey levels about 40 to 210.
double Scene(double x, double y) {
  return 125 + 30 * std::sin(0.31 * x + 0.17 * y) + 25 * std::cos(0.23 * y - 0.11 * x + 1.0) +
         20 * std::sin(0.53 * x + 0.47 * y + 2.0) + 10 * std::cos(0.7 * y + 0.05 * x);
}

// The scene seen with its (0, 0) at (x0, y0).
GreyImage View(int32_t width, int32_t height, double x0, double y0, bool quantise = false) {
  GreyImage g(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const double v = Scene(x0 + x, y0 + y);
      g.At(x, y) = static_cast<float>(quantise ? std::floor(v + 0.5) : v);
    }
  return g;
}

TEST(SubpixelMatch, BilinearSamplingOfByteStrips) {
  const std::vector<uint8_t> bytes = {10, 20, 30,  //
                                      50, 60, 70};
  const ByteStrip down{bytes.data(), 3, 3, 2};
  EXPECT_FLOAT_EQ(SampleBilinear(down, 0, 0), 10);
  EXPECT_FLOAT_EQ(SampleBilinear(down, 2, 1), 70);  // the last pixel itself is inside
  EXPECT_FLOAT_EQ(SampleBilinear(down, 0.5, 0.5), 35);
  EXPECT_FLOAT_EQ(SampleBilinear(down, 1.25, 0.25), 32.5);
  EXPECT_TRUE(std::isnan(SampleBilinear(down, -0.01, 0)));
  EXPECT_TRUE(std::isnan(SampleBilinear(down, 0, 1.01)));
  // Rows read bottom-up through a negative stride.
  const ByteStrip up{bytes.data() + 3, -3, 3, 2};
  EXPECT_FLOAT_EQ(SampleBilinear(up, 0, 0), 50);
  EXPECT_FLOAT_EQ(SampleBilinear(up, 1, 0.75), 30);

  GreyImage g = GreyFromBytes(down);
  EXPECT_FLOAT_EQ(SampleBilinear(g, 1.25, 0.25), 32.5);
  g.At(2, 1) = std::nanf("");
  EXPECT_FLOAT_EQ(SampleBilinear(g, 1, 1), 60);  // the missing pixel has no weight here
  EXPECT_TRUE(std::isnan(SampleBilinear(g, 1.5, 1)));
}

TEST(SubpixelMatch, FindsSubpixelShiftsInWideImages) {
  for (const auto& [dx, dy] : std::vector<std::pair<double, double>>{
           {0.37, -1.62}, {-2.5, 0.5}, {1.91, 2.08}, {0.0, 0.0}, {-0.13, 1.49}}) {
    const GreyImage a = View(120, 40, 0, 0, true);
    const GreyImage b = View(120, 40, dx, dy, true);
    ShiftSearch search;
    search.MinDx = search.MinDy = -4;
    search.MaxDx = search.MaxDy = 4;
    const ShiftEstimate e = EstimateShift(a, b, search);
    ASSERT_TRUE(e.Found()) << MatchVerdictText(e.Verdict);
    EXPECT_NEAR(e.Dx, dx, 0.01);
    EXPECT_NEAR(e.Dy, dy, 0.01);
    EXPECT_LT(e.Residual, 1.0);
    EXPECT_GT(e.Contrast, 20);
  }
}

// Strips a few rows high, overlapping by a row or two: the shape of consecutive framelets.
TEST(SubpixelMatch, FindsShiftsOfThinOverlaps) {
  struct Case {
    int32_t height;
    double dy;
    double dx;
  };
  for (const Case c : {Case{14, 11.3, -0.4}, Case{14, 12.7, 0.8}, Case{4, 2.8, 0.2},
                       Case{4, 2.15, -0.3}, Case{4, 1.5, 0.05}}) {
    const GreyImage a = View(128, c.height, 0, 0, true);
    const GreyImage b = View(128, c.height, c.dx, c.dy, true);
    ShiftSearch search;
    search.MinDy = 0;
    search.MaxDy = c.height - 1;
    const ShiftEstimate e = EstimateShift(a, b, search);
    ASSERT_TRUE(e.Found()) << c.dy << ": " << MatchVerdictText(e.Verdict);
    EXPECT_NEAR(e.Dy, c.dy, 0.03) << c.height;
    EXPECT_NEAR(e.Dx, c.dx, 0.03) << c.height;
  }
}

// The whole-pixel search on every other row and column, over runs of columns with gaps without
// data between them (as a long product's pairs are read): the start it gives is the one worked
// out here pair by pair, at every shift the window holds, whatever its first column's parity.
TEST(SubpixelMatch, TheEveryOtherPixelSearchSkipsColumnsWithoutData) {
  const auto gapped = [](GreyImage g) {
    for (int32_t y = 0; y < g.Height; ++y)
      for (int32_t x = 0; x < g.Width; ++x)
        if (x % 26 >= 20 || (x * 7 + y * 3) % 31 == 0) g.At(x, y) = std::nanf("");
    return g;
  };
  for (const auto& [dx, dy] : std::vector<std::pair<double, double>>{
           {2.3, 11.4}, {-3.6, 9.8}, {0.2, 12.6}, {-1.1, 10.2}}) {
    const GreyImage a = gapped(View(203, 20, 0, 0, true));
    const GreyImage b = gapped(View(203, 20, dx, dy, true));
    ShiftSearch search;
    search.MinDy = 0;
    search.MaxDy = 19;
    search.MinDx = -5;
    search.MaxDx = 5;
    search.Step = 2;
    // The plain definition: the mean square difference of the pairs with data.
    const auto msd = [&](int32_t x, int32_t y, int32_t& n) {
      double sum = 0;
      n = 0;
      for (int32_t r = std::max(0, -y); r < std::min(b.Height, a.Height - y); r += 2)
        for (int32_t c = std::max(0, -x); c < std::min(b.Width, a.Width - x); c += 2) {
          const float d = a.At(c + x, r + y) - b.At(c, r);
          if (std::isnan(d)) continue;
          sum += static_cast<double>(d) * d;
          ++n;
        }
      return n > 0 ? sum / n : 0.0;
    };
    double best = 1e300;
    int32_t bx = 0, by = 0;
    for (int32_t y = search.MinDy; y <= search.MaxDy; ++y)
      for (int32_t x = search.MinDx; x <= search.MaxDx; ++x) {
        int32_t n = 0;
        const double m = msd(x, y, n);
        if (n >= search.MinOverlap / 4 && m < best) best = m, bx = x, by = y;
      }
    double sx = 0, sy = 0;
    ASSERT_TRUE(WholePixelStart(a, b, search, sx, sy));
    EXPECT_NEAR(sx, dx, 0.5);
    EXPECT_NEAR(sy, dy, 0.5);
    // The vertex of the parabola through the neighbours' scores, as the plain sums give it.
    int32_t n = 0;
    const double left = msd(bx - 1, by, n), right = msd(bx + 1, by, n);
    const double up = msd(bx, by - 1, n), down = msd(bx, by + 1, n);
    const auto vertex = [](double m, double c, double p) {
      const double curvature = m - 2 * c + p;
      return curvature > 0 ? std::clamp(0.5 * (m - p) / curvature, -0.5, 0.5) : 0.0;
    };
    EXPECT_NEAR(sx, bx + vertex(left, best, right), 1e-9);
    EXPECT_NEAR(sy, by + vertex(up, best, down), 1e-9);
  }
}

TEST(SubpixelMatch, SaysWhenImagesCannotTell) {
  ShiftSearch search;
  GreyImage flat(64, 14);
  for (float& v : flat.Values) v = 90;
  EXPECT_EQ(EstimateShift(flat, flat, search).Verdict, MatchVerdict::NoTexture);

  GreyImage white = View(64, 14, 0, 0);
  for (float& v : white.Values) v = std::min(255.0f, v + 200.0f);
  EXPECT_EQ(EstimateShift(white, white, search).Verdict, MatchVerdict::Saturated);

  // Stripes along x only: the horizontal shift is free.
  GreyImage stripes(64, 14);
  for (int32_t y = 0; y < 14; ++y)
    for (int32_t x = 0; x < 64; ++x) stripes.At(x, y) = static_cast<float>(100 + 40 * std::sin(y));
  EXPECT_EQ(EstimateShift(stripes, stripes, search).Verdict, MatchVerdict::NoTexture);

  // A window of shifts that leaves no rows in common.
  const GreyImage a = View(64, 4, 0, 0);
  search.MinDy = 5;
  search.MaxDy = 8;
  EXPECT_EQ(EstimateShift(a, a, search).Verdict, MatchVerdict::NoOverlap);

  // Unrelated scenes.
  GreyImage other(64, 14);
  for (int32_t y = 0; y < 14; ++y)
    for (int32_t x = 0; x < 64; ++x)
      other.At(x, y) = static_cast<float>((x * 7919 + y * 104729) % 97 + 80);
  ShiftSearch wide;
  EXPECT_EQ(EstimateShift(View(64, 14, 0, 0), other, wide).Verdict, MatchVerdict::NoMatch);

  // No data at all.
  const GreyImage empty(64, 14);
  EXPECT_EQ(EstimateShift(empty, empty, wide).Verdict, MatchVerdict::NoOverlap);
  // Strips without columns (a band whose columns all lack data): nothing to point into.
  const GreyImage none(0, 14);
  EXPECT_EQ(EstimateShift(none, none, wide).Verdict, MatchVerdict::NoOverlap);
}

}  // namespace
}  // namespace quelmar
