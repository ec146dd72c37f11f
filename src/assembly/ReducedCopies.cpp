#include "assembly/ReducedCopies.h"

#include <algorithm>
#include <cmath>

namespace quelmar {

void HalvePicture(const Picture& in, Picture& out) {
  const int32_t w = in.Width(), h = in.Height();
  const int32_t ow = (w + 1) / 2, oh = (h + 1) / 2;
  out.Resize(ow, oh);
  for (int32_t y = 0; y < oh; ++y) {
    const uint8_t* a = in.Row(2 * y);
    const uint8_t* b = 2 * y + 1 < h ? in.Row(2 * y + 1) : nullptr;
    uint8_t* o = out.Row(y);
    const int32_t pairs = w / 2;
    if (b != nullptr) {
      // The common case: whole 2 x 2 blocks, mean of four rounded half up.
      for (int32_t x = 0; x < pairs; ++x, a += 6, b += 6, o += 3) {
        for (int c = 0; c < 3; ++c) {
          o[c] = static_cast<uint8_t>((a[c] + a[c + 3] + b[c] + b[c + 3] + 2) >> 2);
        }
      }
      if (w % 2 != 0) {
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((a[c] + b[c] + 1) >> 1);
      }
    } else {
      for (int32_t x = 0; x < pairs; ++x, a += 6, o += 3) {
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((a[c] + a[c + 3] + 1) >> 1);
      }
      if (w % 2 != 0) {
        for (int c = 0; c < 3; ++c) o[c] = a[c];
      }
    }
  }
}

void ReducedCopies::Reset(const Picture* source) {
  source_ = source;
  levels_.clear();
}

int32_t ReducedCopies::LastLevel() const {
  if (source_ == nullptr) return 0;
  int32_t w = source_->Width(), h = source_->Height(), level = 0;
  while (w > 1 || h > 1) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++level;
  }
  return level;
}

int32_t ReducedCopies::LevelForScale(Real scale) const {
  if (!(scale < 1)) return 0;
  int32_t level = 0;
  // Halving while the next copy would still be at least as large as the screen shows it.
  while (scale * 2 <= 1 && level < LastLevel()) {
    scale *= 2;
    ++level;
  }
  return level;
}

const Picture& ReducedCopies::Level(int32_t level) {
  static const Picture kEmpty;
  if (source_ == nullptr) return kEmpty;
  level = std::clamp(level, 0, LastLevel());
  while (static_cast<int32_t>(levels_.size()) < level) {
    const Picture& above = levels_.empty() ? *source_ : *levels_.back();
    auto next = std::make_unique<Picture>();
    HalvePicture(above, *next);
    levels_.push_back(std::move(next));
  }
  return level == 0 ? *source_ : *levels_[static_cast<size_t>(level) - 1];
}

void ReducedCopies::BuildAll() {
  Level(LastLevel());
}

}  // namespace quelmar
