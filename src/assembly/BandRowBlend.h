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

// Writes out[i] (value x 16) for every point i of `count` whose state is kCachedValue and -1
// for those with kCachedNoData; those with kCachedPoint are left alone, and the answer says
// whether there were any. `down` goes from a band row to the next one; `readable`: how many
// bytes from `band` on belong to the product (points read only inside it, but several at once
// read up to 3 bytes beyond a point's upper left sample, which must lie inside too).
bool BlendCachedRow(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t readable,
                    const CachedRead* reads, int32_t count, int16_t* out);

// The same for points from .. to - 1, one at a time (the points a vector pass leaves).
bool BlendCachedPoints(const uint8_t* band, std::ptrdiff_t down, const CachedRead* reads,
                       int32_t from, int32_t to, int16_t* out);

// out[i] for i in 0..n - 1: the blend of upper[i], upper[i + 1], lower[i] and lower[i + 1] with
// the weights fx (of the right ones) and fy (of the lower ones) in 1/256, as value x 16. Reads
// upper[n] and lower[n].
void BlendRun(const uint8_t* upper, const uint8_t* lower, int32_t fx, int32_t fy, int32_t n,
              int16_t* out);

}  // namespace quelmar
