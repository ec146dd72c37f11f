// Sub-pixel sampling and shift estimation on images of a known smooth scene.
#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace quelmar
