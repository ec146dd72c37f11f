#include "assembly/RgbLibrary.h"

namespace quelmar {

std::array<uint8_t, 3> ColorToBgr(int32_t color) {
  const auto c = static_cast<uint32_t>(color);
  return {static_cast<uint8_t>((c & 0xFF0000u) >> 16), static_cast<uint8_t>((c & 0xFF00u) >> 8),
          static_cast<uint8_t>(c & 0xFFu)};
}

}  // namespace quelmar
