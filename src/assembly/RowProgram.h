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
  // The same, each half's points taken one at a time, as where the processor has no wide
  // vectors (the program runs alike).
  void CompileOneAtATime(const CachedRead* reads, int32_t count, std::ptrdiff_t down,
                         int32_t rowWidth);

  // As BlendCachedRow for the reads the program was compiled from (the same `count`): out[i]
  // (value x 16) for the points with kCachedValue, -1 for kCachedNoData, the others left alone
  // (the answer says whether there were any). `before` and `readable`: how many bytes before
  // and from `band` on belong to the product.
  bool Run(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t before, std::ptrdiff_t readable,
           const CachedRead* reads, int32_t count, int16_t* out) const;

  // Groups of sixteen points blended by shuffles (for the tests and the bench's notes).
  int32_t ShuffledGroups() const { return shuffled_; }

  // Every point is blended by shuffles wherever the program runs (its reads are then not read
  // again; they may be given as null) where Runs says so for the band it reads.
  bool Complete() const;
  bool Runs(std::ptrdiff_t before, std::ptrdiff_t readable) const {
    return -lowest_ <= before && highest_ <= readable;
  }

  static constexpr int32_t kGroup = 16;

 private:
  // A point reads its sample and the one to its right in its window (the right one weighs 0
  // where it is not blended in), so a group keeps a byte or a bit per point.
  struct alignas(16) Group {
    uint8_t left[16];    // per point: where its sample lies in its window
    uint8_t wx[16];      // per point: the right sample's weight, in 1/128
    uint8_t wy[16];      // per point: the lower row's weight, in 1/128 (at most 127/128)
    int32_t at[2];       // per half (eight points): where its window begins, from the band
    int32_t at2[2];      // and its second window (another row, another framelet's band)
    uint16_t none = 0;   // bit p: point p has no data
    uint16_t other = 0;  // bit p: point p reads the second windows
    bool gaps = false;   // some points have no data
    uint8_t rows = 0;    // 0: blended point by point; 1: every point reads the first windows
                         // (and the row under them); 2: some read the second windows
  };
  // Point p of a group: its sample `left` bytes into its window (0 for a point without data).
  static void Fill(Group& g, int32_t p, const CachedRead& r, int64_t left);
  void CompileHalves(const CachedRead* reads, int32_t count, std::ptrdiff_t down, int32_t rowWidth,
                     bool wide);
  // With wide vectors, a half's eight points at once, where each has data or none and those with
  // data read one window, or two (the samples beyond the lowest one's window, all within one
  // window of their own: the next row, another framelet's band): fills the half and says so
  // (`twoWindows`: whether it reads the second); otherwise leaves the group alone.
  static bool HalfWide(const CachedRead* h, int32_t rowWidth, double inverse, Group& g,
                       int32_t half, bool& twoWindows);
  std::vector<Group> groups_;  // one per sixteen points (the last one ends with the row)
  int32_t shuffled_ = 0;
  std::ptrdiff_t lowest_ = 0, highest_ = 0;  // the bytes the windows read, from the band
};

}  // namespace quelmar
