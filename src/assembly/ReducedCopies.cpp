#include "assembly/ReducedCopies.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "util/ProcessorFeatures.h"

namespace quelmar {

namespace {

// Output rows `first` up to `last` of `out` (already sized) from `in`.
void HalveRows(const Picture& in, Picture& out, int32_t first, int32_t last) {
  const int32_t w = in.Width(), h = in.Height();
  const size_t rowBytes = static_cast<size_t>(w) * 3;
  // Each pair of rows is first summed column by column (a loop the compiler turns into vector
  // adds), then each pair of summed pixels gives one pixel.
  std::vector<uint16_t> sums(rowBytes + 3);
  const int32_t pairs = w / 2;
  for (int32_t y = first; y < last; ++y) {
    const uint8_t* a = in.Row(2 * y);
    const bool twoRows = 2 * y + 1 < h;
    const uint8_t* b = twoRows ? in.Row(2 * y + 1) : a;
    uint16_t* s = sums.data();
    for (size_t i = 0; i < rowBytes; ++i) s[i] = static_cast<uint16_t>(a[i] + b[i]);
    uint8_t* o = out.Row(y);
    std::fill(o + 3 * int64_t{out.Width()}, o + out.Stride(), uint8_t{0});  // the row's padding
    if (twoRows) {
      for (int32_t x = 0; x < pairs; ++x, s += 6, o += 3) {
        o[0] = static_cast<uint8_t>((s[0] + s[3] + 2) >> 2);
        o[1] = static_cast<uint8_t>((s[1] + s[4] + 2) >> 2);
        o[2] = static_cast<uint8_t>((s[2] + s[5] + 2) >> 2);
      }
      if (w % 2 != 0) {
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((s[c] + 1) >> 1);
      }
    } else {
      // The last row of an odd height: each sum is twice the one row.
      for (int32_t x = 0; x < pairs; ++x, s += 6, o += 3) {
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((s[c] + s[c + 3] + 2) >> 2);
      }
      if (w % 2 != 0) {
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(s[c] >> 1);
      }
    }
  }
}

}  // namespace

void HalvePicture(const Picture& in, Picture& out) {
  const int32_t oh = (in.Height() + 1) / 2;
  out.Resize((in.Width() + 1) / 2, oh);
  // A large picture is halved by every core at once, each taking a band of rows: the first
  // zoomed-out view of a 130 MB picture waits on this.
  const int64_t bytes = int64_t{in.Stride()} * in.Height();
  const unsigned cores = ProcessorCores();
  const int32_t parts =
      bytes < (int64_t{1} << 23) ? 1 : static_cast<int32_t>(std::clamp(cores, 1u, 8u));
  std::vector<std::thread> helpers;
  for (int32_t k = 1; k < parts; ++k) {
    const int32_t first = static_cast<int32_t>(int64_t{oh} * k / parts);
    const int32_t last = static_cast<int32_t>(int64_t{oh} * (k + 1) / parts);
    helpers.emplace_back([&in, &out, first, last] { HalveRows(in, out, first, last); });
  }
  HalveRows(in, out, 0, static_cast<int32_t>(oh / parts));
  for (std::thread& t : helpers) t.join();
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
