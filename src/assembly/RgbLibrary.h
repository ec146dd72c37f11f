#pragma once
// RGB_Library: colour values as the settings file writes them, turned into picture bytes.
#include <array>
#include <cstdint>

namespace quelmar {

// A colour value (bits 0-7 red, 8-15 green, 16-23 blue; bits 24-31 ignored) as the three bytes
// of a picture pixel: [0] blue, [1] green, [2] red.
std::array<uint8_t, 3> ColorToBgr(int32_t color);

}  // namespace quelmar
