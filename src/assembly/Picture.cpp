#include "assembly/Picture.h"

#include <limits>

#include "util/Errors.h"

namespace quelmar {

void Picture::Reset(int32_t width, int32_t height) {
  if (width < 0 || height < 0) throw RangeError("Picture size out of range");
  const int64_t stride = (static_cast<int64_t>(width) * 3 + 3) / 4 * 4;
  const int64_t bytes = stride * height;
  if (stride > std::numeric_limits<int32_t>::max() || bytes > (int64_t{1} << 34)) {
    throw RangeError("Picture of " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels is too large");
  }
  bytes_.assign(static_cast<size_t>(bytes), 0xFF);
  width_ = width;
  height_ = height;
  stride_ = static_cast<int32_t>(stride);
  built_ = true;
}

}  // namespace quelmar
