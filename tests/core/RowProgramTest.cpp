// Corrected colour rows compiled for byte shuffles: groups of sixteen points that read within a
// window of one row (or two windows, where the correction's curve crosses a row or framelet; or
// ending with the row) give the blend of their samples with weights rounded to 1/128, rows read
// upward too, and -1 without data; groups that read otherwise, and reads near the image's ends,
// give the same blend one point at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "assembly/BandRowBlend.h"
#include "assembly/RowProgram.h"

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

// The blend with the weights rounded to 1/128 (the lower row's to at most 127/128), the two
// rows' blends as the processor's rounded high-half multiply takes them.
int16_t Rounded(const uint8_t* band, std::ptrdiff_t down, const CachedRead& r) {
  const uint8_t* s0 = band + r.offset;
  const uint8_t* s1 = s0 + down;
  const int32_t wx = r.right != 0 ? (r.fx + 1) >> 1 : 0, wy = std::min((r.fy + 1) >> 1, 127);
  const int32_t upper = s0[0] * (128 - wx) + s0[r.right] * wx;
  const int32_t lower = s1[0] * (128 - wx) + s1[r.right] * wx;
  const int32_t v = upper + (((lower - upper) * (wy << 8) + 16384) >> 15);
  return static_cast<int16_t>((v + 4) >> 3);
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

// The program's blend of each point: the rounded weights, whether its group is shuffled or
// blended point by point; -1 without data.
int16_t Want(const uint8_t* band, std::ptrdiff_t down, const CachedRead& r) {
  if (r.state == kCachedNoData) return -1;
  return Rounded(band, down, r);
}

TEST(RowProgram, GroupsInOneRowOrAcrossTwoBlendWithWeightsInHalves) {
  const std::vector<uint8_t> image = Image();
  for (const std::ptrdiff_t down : {std::ptrdiff_t{kWidth}, -std::ptrdiff_t{kWidth}}) {
    // The band's first row: reads go up to three rows on either way.
    const uint8_t* band = image.data() + 4 * kWidth;
    std::vector<CachedRead> reads = CurvedRow(down);
    // Points without data: the row's first, and a whole half of the third group.
    for (const size_t i : {0, 1, 2, 40, 41, 42, 43, 44, 45, 46, 47}) {
      reads[i].state = kCachedNoData;
    }
    // Two points of the third group read three rows up (another framelet's band).
    for (const size_t i : {37, 38}) reads[i].offset -= static_cast<int32_t>(3 * down);
    const auto count = static_cast<int32_t>(reads.size());
    RowProgram program;
    program.Compile(reads.data(), count, down, kWidth);
    EXPECT_EQ(program.ShuffledGroups(), 4);  // the last one: points 37 to 52
    std::vector<int16_t> out(reads.size() + 1, -7);
    EXPECT_FALSE(program.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, out.data()));
    for (size_t i = 0; i < reads.size(); ++i) {
      ASSERT_EQ(out[i], Want(band, down, reads[i])) << "down " << down << " point " << i;
      // Within two grey levels of the exact blend (for neighbours as far apart as 0 and 255).
      if (reads[i].state == kCachedValue) {
        EXPECT_LE(std::abs(out[i] - Exact(band, down, reads[i])), 32) << "point " << i;
      }
    }
    EXPECT_EQ(out.back(), -7) << "written beyond the row";
  }
}

TEST(RowProgram, RowEndsAndOtherGroupsAndReadsNearTheImageEnds) {
  const std::vector<uint8_t> image = Image();
  const std::ptrdiff_t down = kWidth;
  const uint8_t* band = image.data() + 4 * kWidth;
  const auto count = static_cast<int32_t>(CurvedRow(down).size());
  RowProgram program;
  std::vector<int16_t> out(static_cast<size_t>(count), -7);

  // Points that read the last columns of their row (two points a column, the last column
  // alone): the window ends with the row.
  std::vector<CachedRead> edge = CurvedRow(down);
  for (int32_t i = 0; i < 16; ++i) {
    CachedRead& r = edge[static_cast<size_t>(i)];
    r.offset = static_cast<int32_t>(down) + kWidth - 8 + i / 2;
    r.right = i < 14 ? 1 : 0;
    if (r.right == 0) r.fx = 0;
  }
  program.Compile(edge.data(), count, down, kWidth);
  EXPECT_EQ(program.ShuffledGroups(), 4);
  program.Run(band, down, 4 * kWidth, 4 * kWidth, edge.data(), count, out.data());
  for (size_t i = 0; i < 16; ++i) ASSERT_EQ(out[i], Want(band, down, edge[i])) << i;

  // A point to work out again, and points in three places: point by point.
  std::vector<CachedRead> reads = CurvedRow(down);
  reads[20].state = kCachedPoint;
  reads[40].offset = -3 * kWidth + 40;
  reads[41].offset += 40;  // forty columns on in the same row
  program.Compile(reads.data(), count, down, kWidth);
  EXPECT_EQ(program.ShuffledGroups(), 1);
  std::fill(out.begin(), out.end(), -7);
  EXPECT_TRUE(program.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, out.data()));
  for (size_t i = 0; i < reads.size(); ++i) {
    const int16_t want = reads[i].state == kCachedPoint ? -7 : Want(band, down, reads[i]);
    ASSERT_EQ(out[i], want) << "point " << i;
  }

  // Windows beyond the image's bytes where the row is read against another band: the whole
  // row point by point.
  const std::vector<CachedRead> plain = CurvedRow(down);
  program.Compile(plain.data(), count, down, kWidth);
  EXPECT_FALSE(
      program.Run(band, down, 4 * kWidth, 2 * kWidth + 20, plain.data(), count, out.data()));
  for (size_t i = 0; i < plain.size(); ++i) {
    ASSERT_EQ(out[i], Rounded(band, down, plain[i])) << "point " << i;
  }
}

// Rows of every kind (a column read twice or skipped, or two columns a point, the curve crossing to
// the next row or to another framelet's band and back, runs without data, points to work out again,
// the last column of a row read alone), read downward and upward: compiled eight points at once or
// one at a time, a program blends each point as its reads say.
TEST(RowProgram, HalvesCompiledEightAtOnceBlendAsOneAtATime) {
  const std::vector<uint8_t> image = Image();
  uint32_t seed = 12345;
  const auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  int32_t shuffled = 0;
  for (int32_t trial = 0; trial < 400; ++trial) {
    const std::ptrdiff_t down = trial % 2 == 0 ? kWidth : -kWidth;
    const uint8_t* band = image.data() + 4 * kWidth;
    // Rows -3 to 2 of the band (and the one under each) lie in the image either way.
    const int32_t lowest = down > 0 ? -3 : -2, highest = down > 0 ? 2 : 3;
    const auto count = static_cast<int32_t>(16 + next(80));
    int32_t row = lowest + static_cast<int32_t>(next(6)), column = static_cast<int32_t>(next(70));
    int32_t gap = 0;
    const int32_t stride = trial % 3 == 0 ? 2 : 1;
    std::vector<CachedRead> reads;
    for (int32_t i = 0; i < count; ++i) {
      if (next(23) == 0) row = std::clamp(row + (next(2) == 0 ? 1 : -1), lowest, highest);
      if (next(41) == 0) row = next(2) == 0 ? lowest : highest;  // another framelet's band
      // Two columns a point in some rows: a half then reaches the end of its window.
      column = std::min<int32_t>(
          column + (next(7) == 0 ? 0 : stride) + (next(5) == 0 ? next(3) : 0), kWidth - 1);
      if (gap == 0 && next(13) == 0) gap = static_cast<int32_t>(next(10));
      CachedRead r{};
      r.offset = static_cast<int32_t>(row * down + column);
      r.right = column < kWidth - 1 ? 1 : 0;
      r.fx = static_cast<uint8_t>(r.right != 0 ? next(256) : 0);
      r.fy = static_cast<uint8_t>(next(4) == 0 ? 0 : next(256));
      r.state = gap > 0 ? kCachedNoData : next(97) == 0 ? kCachedPoint : kCachedValue;
      gap = std::max(gap - 1, 0);
      reads.push_back(r);
    }
    RowProgram wide, alone;
    wide.Compile(reads.data(), count, down, kWidth);
    alone.CompileOneAtATime(reads.data(), count, down, kWidth);
    shuffled += wide.ShuffledGroups();
    std::vector<int16_t> a(static_cast<size_t>(count), -7), b(static_cast<size_t>(count), -7);
    wide.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, a.data());
    alone.Run(band, down, 4 * kWidth, 4 * kWidth, reads.data(), count, b.data());
    for (size_t i = 0; i < reads.size(); ++i) {
      const int16_t want = reads[i].state == kCachedPoint ? -7 : Want(band, down, reads[i]);
      ASSERT_EQ(a[i], want) << "trial " << trial << " point " << i;
      ASSERT_EQ(b[i], want) << "trial " << trial << " point " << i;
    }
  }
  EXPECT_GT(shuffled, 400);  // most groups are shuffled
}

}  // namespace
}  // namespace quelmar
