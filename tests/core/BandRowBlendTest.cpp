// The vector blends of colour rows give exactly what one point at a time gives: every weight
// from 0 to 255 (the edges included), runs of every length around the vector widths, reads that
// end on the last byte of the image, and rows whose points are not all plain blends; and the
// pixels of a colour row, no data and the brightest levels included; runs of reads through a
// corrected band's map, the leading values of a row inside an interval, and two rows blended
// point by point.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "assembly/BandRowBlend.h"
#include "assembly/ColourRowPack.h"

namespace quelmar {
namespace {

int16_t OnePoint(const uint8_t* s0, const uint8_t* s1, int32_t fx, int32_t fy, int32_t right) {
  const int32_t upper = s0[0] * (256 - fx) + s0[right] * fx;
  const int32_t lower = s1[0] * (256 - fx) + s1[right] * fx;
  return static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
}

// A cached read's blend: the weights in 1/128 (the lower row's at most 127/128), the lower row's
// share rounded as the processor's high-half multiply rounds it.
int16_t CachedPoint(const uint8_t* s0, const uint8_t* s1, int32_t fx, int32_t fy, int32_t right) {
  const int32_t wx = right != 0 ? (fx + 1) >> 1 : 0, wy = std::min((fy + 1) >> 1, 127);
  const int32_t upper = s0[0] * (128 - wx) + s0[right] * wx;
  const int32_t lower = s1[0] * (128 - wx) + s1[right] * wx;
  return static_cast<int16_t>((upper + (((lower - upper) * (wy << 8) + 16384) >> 15) + 4) >> 3);
}

std::vector<uint8_t> Samples(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 12345;
  for (uint8_t& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  v[0] = 255;
  v[1] = 255;
  return v;
}

TEST(BandRowBlend, RunsBlendAsPointsDoForEveryWeightAndLength) {
  const std::vector<uint8_t> image = Samples(200);
  const uint8_t* upper = image.data();
  const uint8_t* lower = image.data() + 100;
  for (int32_t n : {0, 1, 7, 15, 16, 17, 31, 33, 98}) {
    for (int32_t fx = 0; fx < 256; fx += n == 33 ? 1 : 51) {
      for (int32_t fy = 0; fy < 256; fy += n == 33 ? 5 : 85) {
        std::vector<int16_t> out(static_cast<size_t>(n) + 1, -7);
        BlendRun(upper, lower, fx, fy, n, out.data());
        for (int32_t i = 0; i < n; ++i) {
          ASSERT_EQ(out[static_cast<size_t>(i)], OnePoint(upper + i, lower + i, fx, fy, 1))
              << "n " << n << " fx " << fx << " fy " << fy << " point " << i;
        }
        EXPECT_EQ(out[static_cast<size_t>(n)], -7) << "written beyond the run";
      }
    }
  }
}

TEST(BandRowBlend, CachedRowsBlendAsPointsDoAndLeaveThePointsToWorkOut) {
  const int32_t width = 40, rows = 6;
  const std::vector<uint8_t> image = Samples(static_cast<size_t>(width * rows));
  const uint8_t* band = image.data() + width;  // reads reach one row up and to the image's end
  const auto readable = static_cast<std::ptrdiff_t>(image.size()) - width;
  // Points that read scattered samples, and runs that read neighbouring ones (the lower row
  // taken in whole runs of eight, or not).
  for (const bool neighbours : {false, true}) {
    for (const std::ptrdiff_t down : {std::ptrdiff_t{width}, -std::ptrdiff_t{width}}) {
      std::vector<CachedRead> reads;
      for (int32_t i = 0; i < 53; ++i) {
        CachedRead r{};
        r.offset = neighbours ? 30 + i : (i * 7) % (width * 3);
        r.fx = static_cast<uint8_t>(i * 37);
        r.fy = static_cast<uint8_t>(neighbours ? (i / 8 % 2 == 0 ? 0 : 77 + i)
                                               : (i % 5 == 0 ? 0 : i * 53));
        r.right = 1;
        r.state = kCachedValue;
        reads.push_back(r);
      }
      // The last sample of the image, with no right neighbour.
      reads[20] = {static_cast<int32_t>(readable - 1), 0, 0, 0, kCachedValue};
      reads[21].state = kCachedNoData;
      reads[45].state = kCachedPoint;
      std::vector<int16_t> out(reads.size(), -7);
      EXPECT_TRUE(BlendCachedRow(band, down, width, readable, reads.data(),
                                 static_cast<int32_t>(reads.size()), out.data()));
      for (size_t i = 0; i < reads.size(); ++i) {
        const CachedRead& r = reads[i];
        if (r.state == kCachedPoint) {
          EXPECT_EQ(out[i], -7);
        } else if (r.state == kCachedNoData) {
          EXPECT_EQ(out[i], -1);
        } else {
          const uint8_t* s0 = band + r.offset;
          EXPECT_EQ(out[i], CachedPoint(s0, s0 + (r.fy != 0 ? down : 0), r.fx, r.fy, r.right))
              << "point " << i;
        }
      }
      reads[45].state = kCachedValue;
      EXPECT_FALSE(BlendCachedRow(band, down, width, readable, reads.data(),
                                  static_cast<int32_t>(reads.size()), out.data()));
    }
  }
}

// A run of points read through a map row, eight at a time where the processor can, gives the
// reads the rule gives one point at a time, and their blends, and stops where a point reads
// otherwise: an entry
// without a source, a position beyond the band's rows or columns, the map's end, and
// neighbouring entries far apart (where the eight-point blend would overflow).
TEST(BandRowBlend, MappedRunsReadAsTheirPointsDoAndStopWhereOneReadsOtherwise) {
  constexpr int32_t kEntries = 120, kNone = INT32_MIN;
  const int32_t rowHi = 13 * 256, colLo = 2 * 256, colHi = 700 * 256, down = -1000, from = -7000;
  // The band's rows are read upward, from 7000 bytes before it on.
  const std::vector<uint8_t> image = Samples(30000);
  MappedRunRead to;
  to.RowHi = rowHi;
  to.ColLo = colLo;
  to.ColHi = colHi;
  to.From = from;
  to.Down = down;
  to.Band = image.data() + 25000;
  to.Before = 25000;
  to.Readable = 5000;
  // The reads of points from `first` on, as the rule gives them, until one reads otherwise.
  const auto byRule = [&](const std::vector<int32_t>& map, int64_t xp, int64_t limit,
                          int32_t count) {
    std::vector<CachedRead> reads;
    for (int32_t k = 0; k < count; ++k, xp += 65536) {
      if (xp < 0 || xp >= limit) break;
      const auto a = static_cast<size_t>(2 * (xp >> 16));
      if (map[a] == kNone || map[a + 2] == kNone) break;
      const int64_t t = xp % 65536;
      const int64_t r = map[a + 1] + (int64_t{map[a + 3] - map[a + 1]} * t >> 16);
      const int64_t q = map[a] + (int64_t{map[a + 2] - map[a]} * t >> 16);
      if (r < 0 || r >= rowHi || q < colLo || q >= colHi) break;
      reads.push_back({static_cast<int32_t>(from + (r >> 8) * down + (q >> 8)),
                       static_cast<uint8_t>(q % 256), static_cast<uint8_t>(r % 256), 1,
                       kCachedValue});
    }
    return reads;
  };
  uint32_t seed = 99;
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int32_t>(seed >> 8);
  };
  for (int32_t trial = 0; trial < 400; ++trial) {
    // A corrected row: columns a little over a pixel apart, rows curving.
    std::vector<int32_t> map;
    for (int32_t a = 0; a < kEntries; ++a) {
      map.push_back(3 * 256 + a * 266 + next() % 40);
      map.push_back(6 * 256 + (a - 60) * (a - 60) / 3 + next() % 40);
    }
    // One entry spoilt: without a source, below the band, beyond its columns, far from its
    // neighbour, before the first column; or none.
    const auto at = static_cast<size_t>(2 * (next() % kEntries));
    const int32_t spoilt = trial % 6;
    if (spoilt == 0) map[at] = kNone;
    if (spoilt == 1) map[at + 1] = rowHi + next() % 500;
    if (spoilt == 2) map[at] = colHi + next() % 500;
    if (spoilt == 3) map[at + 1] -= 40000;
    if (spoilt == 4) map[at] = -1;
    const int64_t xp = int64_t{next() % (30 * 65536)} - (trial % 7 == 0 ? 65536 : 0);
    const int64_t limit = int64_t{kEntries - 2} * 65536 - next() % 70000;
    const int32_t count = 1 + next() % 100;
    const std::vector<CachedRead> want = byRule(map, xp, limit, count);
    std::vector<CachedRead> got(static_cast<size_t>(count), CachedRead{7, 7, 7, 7, 7});
    std::vector<int16_t> values(static_cast<size_t>(count), -7);
    const int32_t written =
        RecordMappedRun(map.data(), xp, limit, count, to, got.data(), values.data());
    ASSERT_EQ(written, static_cast<int32_t>(want.size())) << "trial " << trial;
    for (size_t k = 0; k < want.size(); ++k) {
      const CachedRead &g = got[k], &w = want[k];
      ASSERT_TRUE(g.offset == w.offset && g.fx == w.fx && g.fy == w.fy && g.right == w.right &&
                  g.state == w.state)
          << "trial " << trial << " point " << k;
      const uint8_t* s0 = to.Band + w.offset;
      ASSERT_EQ(values[k], CachedPoint(s0, s0 + (w.fy != 0 ? down : 0), w.fx, w.fy, 1))
          << "trial " << trial << " point " << k;
    }
    if (want.size() < values.size()) {
      EXPECT_EQ(values[want.size()], -7) << "written beyond";
    }
    if (want.size() < got.size()) {
      EXPECT_EQ(got[want.size()].state, 7) << "written beyond";
    }
  }
}

// The leading values inside an interval (lo < v <= hi), across the vector widths, with the
// interval's ends themselves and the extreme values.
// Two rows of samples blended point by point: the vector pass gives what one point at a time
// gives for every weight and length around the vector width, the darkest and brightest levels
// included; beside a point without data, the nearer one stands.
TEST(BandRowBlend, PairsBlendAsPointsDoAndTakeTheNearerBesideNoData) {
  std::vector<int16_t> first(120), second(120);
  uint32_t seed = 7;
  for (size_t i = 0; i < first.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    first[i] = static_cast<int16_t>((seed >> 8) % 4081);
    seed = seed * 1103515245u + 12345u;
    second[i] = static_cast<int16_t>((seed >> 8) % 4081);
  }
  first[3] = 0, second[3] = 4080, first[4] = 4080, second[4] = 0;
  first[20] = -1, second[21] = -1, first[40] = second[40] = -1;
  for (int32_t n : {0, 1, 15, 16, 17, 33, 100}) {
    for (int32_t weight = 1; weight < 256; ++weight) {
      std::vector<int16_t> out(static_cast<size_t>(n) + 1, -7);
      BlendPairs(first.data(), second.data(), weight, n, out.data());
      for (int32_t i = 0; i < n; ++i) {
        const int32_t a = first[static_cast<size_t>(i)], b = second[static_cast<size_t>(i)];
        int32_t want = a + (((b - a) * (weight << 7) + 16384) >> 15);
        if (a < 0 || b < 0) want = weight < 128 ? a : b;
        ASSERT_EQ(out[static_cast<size_t>(i)], want)
            << "n " << n << " weight " << weight << " point " << i;
      }
      EXPECT_EQ(out[static_cast<size_t>(n)], -7) << "written beyond the run";
    }
  }
  // A quarter of the way from 0 to 4080 is 1020; beside no data, the nearer side.
  int16_t out[3];
  const int16_t lo[3] = {0, 100, -1}, hi[3] = {4080, -1, 100};
  BlendPairs(lo, hi, 64, 3, out);
  EXPECT_EQ(out[0], 1020);
  EXPECT_EQ(out[1], 100);
  EXPECT_EQ(out[2], -1);
  BlendPairs(lo, hi, 192, 3, out);
  EXPECT_EQ(out[1], -1);
  EXPECT_EQ(out[2], 100);
}

TEST(BandRowBlend, LeadingValuesInsideAnIntervalAreCountedAsOneAtATime) {
  uint32_t seed = 5;
  for (int32_t trial = 0; trial < 300; ++trial) {
    const int32_t lo = trial % 5 == 0 ? INT32_MIN : -100, hi = trial % 7 == 0 ? INT32_MAX : 100;
    const int32_t n = trial % 41;
    std::vector<int32_t> v;
    for (int32_t k = 0; k < n; ++k) {
      seed = seed * 1103515245u + 12345u;
      v.push_back(-99 + static_cast<int32_t>(seed >> 8) % 199);
    }
    if (n > 0) {
      // One value at an end of the interval, or just beyond it.
      seed = seed * 1103515245u + 12345u;
      const int32_t ends[] = {lo, lo + 1, hi, hi == INT32_MAX ? hi : hi + 1, INT32_MIN, INT32_MAX};
      v[static_cast<size_t>(seed >> 8) % v.size()] = ends[(seed >> 4) % 6];
    }
    int32_t want = 0;
    while (want < n && v[static_cast<size_t>(want)] > lo && v[static_cast<size_t>(want)] <= hi) {
      ++want;
    }
    ASSERT_EQ(LeadingInside(v.data(), n, lo, hi), want) << "trial " << trial;
  }
}

TEST(BandRowBlend, ColourRowsPackAsPixelsDoOneAtATime) {
  const std::array<uint8_t, 3> noData{10, 20, 30};
  for (const int32_t width : {0, 5, 16, 37, 53, 75}) {
    std::array<std::vector<int16_t>, 3> channel;
    for (size_t c = 0; c < 3; ++c) {
      for (int32_t x = 0; x < width; ++x) {
        const int32_t v = (x * 977 + static_cast<int32_t>(c) * 311) % 4200;  // up to 4080+
        channel[c].push_back(static_cast<int16_t>((x + static_cast<int32_t>(c)) % 7 == 0 ? -1 : v));
      }
      channel[c].resize(static_cast<size_t>(width) + 1);
    }
    std::vector<uint8_t> out(3 * static_cast<size_t>(width) + 1, 99);
    PackColourRow(channel[0].data(), channel[1].data(), channel[2].data(), noData, width,
                  out.data());
    for (int32_t x = 0; x < width; ++x) {
      const auto i = static_cast<size_t>(x);
      const bool none = channel[0][i] < 0 || channel[1][i] < 0 || channel[2][i] < 0;
      for (size_t c = 0; c < 3; ++c) {
        const int32_t want = none ? noData[2 - c] : std::min((channel[c][i] + 8) >> 4, 255);
        ASSERT_EQ(out[3 * i + 2 - c], want) << "width " << width << " pixel " << x;
      }
    }
    EXPECT_EQ(out.back(), 99) << "written beyond the row";
  }
}

}  // namespace
}  // namespace quelmar
