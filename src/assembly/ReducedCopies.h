#pragma once
// Reduced copies of a picture for drawing it zoomed out: each copy is the one before halved in
// both directions, every pixel the rounded mean of the (up to four) pixels it covers, so a
// picture shown small is area-averaged instead of sampled. The copies have the picture layout
// (blue, green, red; rows padded to 4 bytes), so the view wraps them as it wraps the picture.
#include <cstdint>
#include <memory>
#include <vector>

#include "assembly/Picture.h"
#include "util/Numbers.h"

namespace quelmar {

// `out` becomes `in` halved: ceil(width / 2) x ceil(height / 2), each pixel the mean of the
// pixels of its 2 x 2 block that exist, rounded half up.
void HalvePicture(const Picture& in, Picture& out);

class ReducedCopies {
 public:
  // Forgets every copy; `source` (which must outlive its use here, or be replaced before it
  // goes) is level 0. Nothing is built until a level is asked for.
  void Reset(const Picture* source);
  // The picture halved `level` times (0: the source itself), built on first use from the level
  // above it; a level beyond the last gives the last (1 x 1 or the source when it is empty).
  const Picture& Level(int32_t level);
  // How many times the source can be halved before it is one pixel in both directions.
  int32_t LastLevel() const;
  // The level to draw from at `scale` (screen pixels per picture pixel): the smallest copy still
  // at least as large as the screen shows it, so drawing it only ever shrinks by at most half.
  int32_t LevelForScale(Real scale) const;
  // Builds every level now (for a view that wants no delay on its first zoomed-out repaint).
  void BuildAll();

 private:
  const Picture* source_ = nullptr;
  std::vector<std::unique_ptr<Picture>> levels_;  // levels_[k] is level k + 1
};

}  // namespace quelmar
