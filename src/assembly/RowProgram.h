#pragma once
// A corrected colour row whose reads are known, compiled for byte shuffles: the correction moves
// a column by a fraction of a pixel every few columns, so sixteen neighbouring points read
// within two windows of sixteen bytes of a band row and the row under it (or, where the
// correction's curve crosses to the next row or to another framelet, within two such pairs of
// windows). Each such group is blended from its windows by precomputed shuffles and weights,
// with no fetch per point; the weights are rounded to 1/128 pixel (the lower row's to at most
// 127/128), and points without data among them give -1. Groups that read otherwise (points to
// work out) are blended point by point as BlendCachedRow does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "assembly/BandRowBlend.h"

namespace quelmar {

class RowProgram {
 public:
  // Compiles the reads of `count` points. `down` goes from a band row to the next one; the band
  // the offsets are taken from lies at the start of a product row of `rowWidth` bytes (a window
  // never reaches beyond the row its points read).
  void Compile(const CachedRead* reads, int32_t count, std::ptrdiff_t down, int32_t rowWidth);

  // As BlendCachedRow for the reads the program was compiled from (the same `count`): out[i]
  // (value x 16) for the points with kCachedValue, -1 for kCachedNoData, the others left alone
  // (the answer says whether there were any). `before` and `readable`: how many bytes before
  // and from `band` on belong to the product.
  bool Run(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t before, std::ptrdiff_t readable,
           const CachedRead* reads, int32_t count, int16_t* out) const;

  // Groups of sixteen points blended by shuffles (for the tests and the bench's notes).
  int32_t ShuffledGroups() const { return shuffled_; }

  static constexpr int32_t kGroup = 16;

 private:
  struct alignas(32) Group {
    uint8_t mask[32];   // per half: each point's sample and its right neighbour in the window
    uint8_t wx[32];     // per point: the weights of the two, in 1/128
    int16_t wy[16];     // per point: the weight of the lower row, in 1/32768 (at most 127/128)
    int16_t none[16];   // per point: -1 where it has no data, else 0
    uint8_t other[32];  // per point: 0xFF where it reads the second windows
    int32_t at[2];      // per half (eight points): where its window begins, from the band
    int32_t at2[2];     // and its second window (another row, another framelet's band)
    bool gaps = false;  // some points have no data
    uint8_t rows = 0;   // 0: blended point by point; 1: every point reads the first windows
                        // (and the row under them); 2: some read the second windows
  };
  std::vector<Group> groups_;  // one per sixteen points (the last one ends with the row)
  int32_t shuffled_ = 0;
  std::ptrdiff_t lowest_ = 0, highest_ = 0;  // the bytes the windows read, from the band
};

}  // namespace quelmar
