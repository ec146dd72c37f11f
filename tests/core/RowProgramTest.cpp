// Corrected colour rows compiled for byte shuffles: groups of sixteen points that read within a
// window of one row (or of two rows, where the correction's curve crosses a row) give the blend
// of their samples with weights rounded to 1/128, rows read upward too; groups that read
// otherwise, and reads near the image's ends, give exactly what one point at a time gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "assembly/BandRowBlend.h"
#include "assembly/RowProgram.h"
#include "util/ProcessorFeatures.h"

namespace quelmar {
namespace {

constexpr int32_t kWidth = 96, kRows = 8;

std::vector<uint8_t> Image() {
  std::vector<uint8_t> v(static_cast<size_t>(kWidth * kRows));
  uint32_t x = 777;
  for (uint8_t& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  v[5] = 255;
  v[6] = 0;
  return v;
}

int16_t Exact(const uint8_t* band, std::ptrdiff_t down, const CachedRead& r) {
  const uint8_t* s0 = band + r.offset;
  const uint8_t* s1 = s0 + (r.fy != 0 ? down : 0);
  const int32_t upper = s0[0] * (256 - r.fx) + s0[r.right] * r.fx;
  const int32_t lower = s1[0] * (256 - r.fx) + s1[r.right] * r.fx;
  return static_cast<int16_t>((upper * (256 - r.fy) + lower * r.fy + 2048) >> 12);
}

// The blend with the weights rounded to 1/128.
int16_t Rounded(const uint8_t* band, std::ptrdiff_t down, const CachedRead& r) {
  const uint8_t* s0 = band + r.offset;
  const uint8_t* s1 = s0 + down;
  const int32_t wx = r.right != 0 ? (r.fx + 1) >> 1 : 0, wy = (r.fy + 1) >> 1;
  const int32_t upper = s0[0] * (128 - wx) + s0[r.right] * wx;
  const int32_t lower = s1[0] * (128 - wx) + s1[r.right] * wx;
  return static_cast<int16_t>((upper * (128 - wy) + lower * wy + 512) >> 10);
}

// 53 points along a corrected row: a column skipped every seventh point, row 1 of the band, then
// from point 28 on row 2 (the second group crosses), every weight, and a last column read alone.
std::vector<CachedRead> CurvedRow(std::ptrdiff_t down) {
  std::vector<CachedRead> reads;
  for (int32_t i = 0; i < 53; ++i) {
    const int32_t row = i < 28 ? 1 : 2, column = 3 + i + i / 7;
    CachedRead r{};
    r.offset = static_cast<int32_t>(row * down + column);
    r.fx = static_cast<uint8_t>((i * 53) % 256);
    r.fy = static_cast<uint8_t>(i % 9 == 0 ? 0 : i % 9 == 1 ? 255 : (i * 37) % 256);
    r.right = i == 12 ? 0 : 1;  // the band's last column: read alone, with no weight
    if (r.right == 0) r.fx = 0;
    r.state = kCachedValue;
    reads.push_back(r);
  }
  return reads;
}

TEST(RowProgram, GroupsInOneRowOrAcrossTwoBlendWithWeightsInHalves) {
  const std::vector<uint8_t> image = Image();
  for (const std::ptrdiff_t down : {std::ptrdiff_t{kWidth}, -std::ptrdiff_t{kWidth}}) {
    // The band's first row: reads go up to three rows on either way.
    const uint8_t* band = image.data() + 4 * kWidth;
    const std::vector<CachedRead> reads = CurvedRow(down);
    const auto count = static_cast<int32_t>(reads.size());
    RowProgram program;
    program.Compile(reads.data(), count, down, kWidth);
    EXPECT_EQ(program.ShuffledGroups(), 3);
    std::vector<int16_t> out(reads.size() + 1, -7);
    EXPECT_FALSE(program.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, out.data()));
    const bool shuffles = ProcessorHasWideVectors();
    for (size_t i = 0; i < reads.size(); ++i) {
      const bool grouped = shuffles && i < 48;
      const int16_t want = grouped ? Rounded(band, down, reads[i]) : Exact(band, down, reads[i]);
      ASSERT_EQ(out[i], want) << "down " << down << " point " << i;
      // Within two grey levels of the exact blend (for neighbours as far apart as 0 and 255).
      EXPECT_LE(std::abs(out[i] - Exact(band, down, reads[i])), 32) << "point " << i;
    }
    EXPECT_EQ(out.back(), -7) << "written beyond the row";
  }
}

TEST(RowProgram, OtherGroupsAndReadsNearTheEndsBlendPointByPoint) {
  const std::vector<uint8_t> image = Image();
  const std::ptrdiff_t down = kWidth;
  const uint8_t* band = image.data() + 4 * kWidth;
  std::vector<CachedRead> reads = CurvedRow(down);
  reads[2].state = kCachedNoData;       // group 0: a point without data
  reads[20].state = kCachedPoint;       // group 1: a point to work out again
  reads[40].offset = -3 * kWidth + 40;  // group 2: a point five rows up
  const auto count = static_cast<int32_t>(reads.size());
  RowProgram program;
  program.Compile(reads.data(), count, down, kWidth);
  EXPECT_EQ(program.ShuffledGroups(), 0);
  std::vector<int16_t> out(reads.size(), -7);
  EXPECT_TRUE(program.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, out.data()));
  for (size_t i = 0; i < reads.size(); ++i) {
    const int16_t want = reads[i].state == kCachedNoData  ? -1
                         : reads[i].state == kCachedPoint ? -7
                                                          : Exact(band, down, reads[i]);
    ASSERT_EQ(out[i], want) << "point " << i;
  }

  // A window that would reach past its row's end is not taken; nor are windows beyond the
  // image's bytes where the row is read against another band (the whole row point by point).
  std::vector<CachedRead> edge = CurvedRow(down);
  for (int32_t i = 0; i < 16; ++i) edge[static_cast<size_t>(i)].offset = kWidth + kWidth - 18 + i;
  edge[15].right = 0;
  program.Compile(edge.data(), count, down, kWidth);
  EXPECT_EQ(program.ShuffledGroups(), 2);
  std::vector<CachedRead> plain = CurvedRow(down);
  program.Compile(plain.data(), count, down, kWidth);
  EXPECT_FALSE(
      program.Run(band, down, 4 * kWidth, 2 * kWidth + 20, plain.data(), count, out.data()));
  for (size_t i = 0; i < plain.size(); ++i) {
    ASSERT_EQ(out[i], Exact(band, down, plain[i])) << "point " << i;
  }
}

}  // namespace
}  // namespace quelmar
