#pragma once
// The blend of a corrected colour row whose reads are already known: each point's four
// neighbouring samples in the product and its weights, as an earlier row of the same band found
// them.
#include <cstddef>
#include <cstdint>

namespace quelmar {

// Where one point of a row reads its samples.
struct CachedRead {
  int32_t offset;  // of the upper left sample, from the band the row is read against
  uint8_t fx, fy;  // weights of the right and lower neighbours, 1/256
  uint8_t right;   // 1: the right neighbour is blended in (with fx 0 otherwise)
  uint8_t state;   // kCachedValue, kCachedNoData or kCachedPoint
};
inline constexpr uint8_t kCachedValue = 0;   // blended from the four samples
inline constexpr uint8_t kCachedNoData = 1;  // no data: -1
inline constexpr uint8_t kCachedPoint = 2;   // the point must be worked out again

// Writes out[i] (value x 16) for every point i of `count` whose state is kCachedValue (its four
// samples blended with the weights rounded to 1/128, the lower row's to at most 127/128, as the
// byte shuffles of a compiled row blend them, so that a row gives the same values however it is
// blended) and -1 for those with kCachedNoData; those with kCachedPoint are left alone, and the
// answer says
// whether there were any. `down` goes from a band row to the next one; `before` and
// `readable`: how many bytes before and from `band` on belong to the product (points read only
// inside it, but several at once read up to sixteen bytes from a point's upper left sample, and
// the sixteen under them, where those lie inside too).
bool BlendCachedRow(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t before,
                    std::ptrdiff_t readable, const CachedRead* reads, int32_t count, int16_t* out);

// The same for points from .. to - 1, one at a time (the points a vector pass leaves).
bool BlendCachedPoints(const uint8_t* band, std::ptrdiff_t down, const CachedRead* reads,
                       int32_t from, int32_t to, int16_t* out);

// out[i] for i in 0..n - 1: the blend of upper[i], upper[i + 1], lower[i] and lower[i + 1] with
// the weights fx (of the right ones) and fy (of the lower ones) in 1/256, as value x 16. Reads
// upper[n] and lower[n].
void BlendRun(const uint8_t* upper, const uint8_t* lower, int32_t fx, int32_t fy, int32_t n,
              int16_t* out);

// Where the points of RecordMappedRun read: inside rows 0 .. RowHi / 256 - 1 and columns
// ColLo / 256 .. ColHi / 256 - 1 of a band From bytes from `Band` (Down from a row to the next),
// with Before and Readable bytes before and from Band on in the product.
struct MappedRunRead {
  int32_t RowHi = 0, ColLo = 0, ColHi = 0;
  int32_t From = 0, Down = 0;
  const uint8_t* Band = nullptr;
  std::ptrdiff_t Before = 0, Readable = 0;
  bool Blend = true;  // false: the reads only (the points' out left alone)
};

// Where a run of points one column apart reads through a map row of a corrected band, and
// their blends: `map` holds (column, row) pairs of source positions in 1/256 pixels (INT32_MIN
// as the column where there is none), one per output column. Point k of the run lies at xp +
// k x 65536 (1/65536 columns), between entries xp / 65536 and the next, and reads their blend:
// column q and row r, each the first entry's value plus the difference times the fraction /
// 65536 (rounded down). Where 0 <= xp < xpLimit (the map holding the entry after xpLimit /
// 65536), both entries exist, 0 <= r < RowHi and ColLo <= q < ColHi, the point reads (offset
// From + (r / 256) x Down + q / 256, fx q % 256, fy r % 256, right 1, kCachedValue) into
// record[k], and out[k] is its blend (as BlendCachedRow gives it). Writes those from the run's
// first point on and stops at the first point that reads otherwise; the answer: how many.
int32_t RecordMappedRun(const int32_t* map, int64_t xp, int64_t xpLimit, int32_t count,
                        const MappedRunRead& to, CachedRead* record, int16_t* out);

// out[i] for i in 0..n - 1: first[i] and second[i] (values x 16, -1 for no data) blended with
// `weight` / 256 of the second (0 < weight < 256), as first + (second - first) x weight / 256
// rounded as the processor's high-half multiply rounds it; where either has no data, the nearer
// one (the first for a weight below 128).
void BlendPairs(const int16_t* first, const int16_t* second, int32_t weight, int32_t n,
                int16_t* out);

// How many of v[0], v[1], ... v[n - 1] from the first on lie in lo < v <= hi.
int32_t LeadingInside(const int32_t* v, int32_t n, int32_t lo, int32_t hi);

}  // namespace quelmar
