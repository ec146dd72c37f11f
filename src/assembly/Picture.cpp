#include "assembly/Picture.h"

#include <limits>
#include <new>

#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar {

namespace {
// The largest picture held: far more than any product's raw or stacked picture needs (the
// largest archive products give pictures of about 130 MB), yet small enough that a label or a
// travel that asks for an absurd picture is refused before memory runs out.
constexpr int64_t kMaxPictureBytes = int64_t{1} << 30;
}  // namespace

void Picture::Reset(int32_t width, int32_t height) {
  Size(width, height, true);
}

void Picture::Resize(int32_t width, int32_t height) {
  Size(width, height, false);
}

void Picture::Size(int32_t width, int32_t height, bool clear) {
  if (width < 0 || height < 0) throw RangeError("Picture size out of range");
  const int64_t stride = (static_cast<int64_t>(width) * 3 + 3) / 4 * 4;
  const int64_t bytes = stride * height;
  if (stride > kMaxPictureBytes || bytes > kMaxPictureBytes) {
    throw RangeError("A picture of " + FormatInt(width) + " x " + FormatInt(height) +
                     " pixels would need " + FormatInt(bytes >> 20) +
                     " MB; pictures are limited to " + FormatInt(kMaxPictureBytes >> 20) + " MB");
  }
  try {
    if (clear) {
      bytes_.assign(static_cast<size_t>(bytes), 0xFF);
    } else if (static_cast<size_t>(bytes) > bytes_.capacity()) {
      // A new block, without copying the old pixels into it; the old picture stays whole
      // should there be no memory for the new one.
      std::vector<uint8_t, UnclearedAllocator<uint8_t>> fresh(static_cast<size_t>(bytes));
      bytes_.swap(fresh);
    } else {
      bytes_.resize(static_cast<size_t>(bytes));
    }
  } catch (const std::bad_alloc&) {
    throw RangeError("Not enough memory for a picture of " + FormatInt(width) + " x " +
                     FormatInt(height) + " pixels (" + FormatInt(bytes >> 20) + " MB)");
  }
  width_ = width;
  height_ = height;
  stride_ = static_cast<int32_t>(stride);
  built_ = true;
}

}  // namespace quelmar
