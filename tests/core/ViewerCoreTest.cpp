// The viewer's core: reduced copies for drawing zoomed out, the place under the mouse, and the
// keyboard steps of the travel fields.
#include <gtest/gtest.h>

#include <random>

#include "assembly/PicturePlace.h"
#include "assembly/ReducedCopies.h"
#include "controls/FieldStep.h"

namespace quelmar {
namespace {

Picture Noise(int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 g(seed);
  Picture p;
  p.Reset(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < 3 * w; ++x) p.Row(y)[x] = static_cast<uint8_t>(g());
  return p;
}

TEST(ViewerReducedCopies, EachCopyIsTheRoundedMeanOfTheBlockItCovers) {
  // Small pictures, and one large enough to be halved in bands of rows by several threads.
  for (const auto& [w, h] :
       {std::pair{1, 1}, {2, 2}, {3, 1}, {1, 3}, {5, 7}, {8, 6}, {17, 4}, {1501, 2001}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const Picture in = Noise(w, h, static_cast<uint32_t>(w * 100 + h));
    Picture out;
    HalvePicture(in, out);
    ASSERT_EQ(out.Width(), (w + 1) / 2);
    ASSERT_EQ(out.Height(), (h + 1) / 2);
    for (int32_t y = 0; y < out.Height(); ++y) {
      for (int32_t x = 0; x < out.Width(); ++x) {
        for (int c = 0; c < 3; ++c) {
          int sum = 0, n = 0;
          for (int32_t sy = 2 * y; sy < std::min(h, 2 * y + 2); ++sy)
            for (int32_t sx = 2 * x; sx < std::min(w, 2 * x + 2); ++sx, ++n)
              sum += in.Row(sy)[3 * sx + c];
          ASSERT_EQ(out.Row(y)[3 * x + c], (sum + n / 2) / n) << x << "," << y << "," << c;
        }
      }
    }
  }
}

TEST(ViewerReducedCopies, LevelsHalveDownToOnePixelAndTheScaleChoosesTheCopy) {
  const Picture source = Noise(704, 300, 1);
  ReducedCopies copies;
  copies.Reset(&source);
  EXPECT_EQ(&copies.Level(0), &source);
  EXPECT_EQ(copies.LastLevel(), 10);  // 704 -> 352 -> ... -> 1
  EXPECT_EQ(copies.Level(1).Width(), 352);
  EXPECT_EQ(copies.Level(1).Height(), 150);
  EXPECT_EQ(copies.Level(3).Height(), 38);  // 150 -> 75 -> 38
  EXPECT_EQ(copies.Level(99).Width(), 1);
  EXPECT_EQ(copies.Level(99).Height(), 1);
  // Never drawn from a copy smaller than shown: 0.5 takes level 1, just below it still level 1.
  EXPECT_EQ(copies.LevelForScale(4), 0);
  EXPECT_EQ(copies.LevelForScale(1), 0);
  EXPECT_EQ(copies.LevelForScale(0.75L), 0);
  EXPECT_EQ(copies.LevelForScale(0.5L), 1);
  EXPECT_EQ(copies.LevelForScale(0.3L), 1);
  EXPECT_EQ(copies.LevelForScale(0.25L), 2);
  EXPECT_EQ(copies.LevelForScale(1e-9L), 10);
  // A new picture forgets the old copies.
  const Picture other = Noise(4, 4, 2);
  copies.Reset(&other);
  EXPECT_EQ(copies.Level(1).Width(), 2);
  copies.Reset(nullptr);
  EXPECT_EQ(copies.Level(2).Width(), 0);
}

TEST(ViewerPlace, RawRowsNameTheirFrameletBandRowAndSample) {
  LoadedProduct product;
  product.FrameletHeight = 14;
  product.FrameletCount = 3;
  product.BandCount = 2;  // bands of rows 0..3 and 4..13
  product.Rows.Allocate(42, 5);
  for (int32_t y = 0; y < 42; ++y)
    for (int32_t x = 0; x < 5; ++x) product.Rows.Row(y)[x] = static_cast<uint8_t>(y * 5 + x);
  Picture picture;
  picture.Reset(5, 42);
  DisplayedImageInfo shown;

  PicturePlace p = LocatePlace(product, shown, picture, 2, 14 + 5);
  ASSERT_TRUE(p.inside && p.raw);
  EXPECT_EQ(p.framelet, 2);
  EXPECT_EQ(p.band, 2);
  EXPECT_EQ(p.bandRow, 2);
  EXPECT_EQ(p.sample, 19 * 5 + 2);
  EXPECT_EQ(DescribePlace(p), "Row 20, col 3 | sample 97\nframelet 2, band 2 row 2");

  shown.Inverted = true;  // the framelet's last row is shown first
  p = LocatePlace(product, shown, picture, 0, 28);
  EXPECT_EQ(p.framelet, 3);
  EXPECT_EQ(p.band, 2);
  EXPECT_EQ(p.bandRow, 10);
  EXPECT_EQ(p.sample, 41 * 5);

  EXPECT_FALSE(LocatePlace(product, shown, picture, 5, 0).inside);
  EXPECT_FALSE(LocatePlace(product, shown, picture, 0, -1).inside);
  EXPECT_EQ(DescribePlace(LocatePlace(product, shown, picture, -1, 0)), "");

  // A stacked picture (or one of another size) has no framelets: the pixel's value.
  shown.Stacked = true;
  picture.Row(3)[3] = picture.Row(3)[4] = picture.Row(3)[5] = 77;
  EXPECT_EQ(DescribePlace(LocatePlace(product, shown, picture, 1, 3)), "Row 4, col 2 | value 77");
  picture.Row(3)[3] = 10;
  EXPECT_EQ(DescribePlace(LocatePlace(product, shown, picture, 1, 3)),
            "Row 4, col 2 | RGB 77,77,10");
}

TEST(ViewerFieldStep, StepsStayWithinTheLimitsAndLeaveBadTextAlone) {
  EXPECT_EQ(SteppedFieldText("11", "0.05", "0", "14"), "11.05");
  EXPECT_EQ(SteppedFieldText(" 11,05 ", "-0.05", "0", "14"), "11");
  EXPECT_EQ(SteppedFieldText("13.8", "0.5", "0", "14"), "14");
  EXPECT_EQ(SteppedFieldText("14", "0.05", "0", "14"), std::nullopt);
  EXPECT_EQ(SteppedFieldText("0.02", "-0.05", "0", "14"), "0");
  EXPECT_EQ(SteppedFieldText("0.1", "-0.5", "", ""), "-0.4");
  EXPECT_EQ(SteppedFieldText("-0.05", "0.05", "", ""), "0");
  // Many small steps do not drift off the grid.
  std::string t = "0";
  for (int i = 0; i < 100; ++i) t = *SteppedFieldText(t, "0.05", "", "");
  EXPECT_EQ(t, "5");
  EXPECT_EQ(SteppedFieldText("abc", "0.05", "0", "14"), std::nullopt);
  EXPECT_EQ(SteppedFieldText("", "0.05", "0", "14"), std::nullopt);
}

}  // namespace
}  // namespace quelmar
