#pragma once
// The pixels of one row of a colour picture from its three channels' samples.
#include <array>
#include <cstdint>

namespace quelmar {

// out (3 x width bytes: blue, green, red) from red, green and blue samples (values x 16, -1
// for no data): each value rounded to a grey level, the no-data colour (blue, green, red) where
// any channel has no data.
void PackColourRow(const int16_t* red, const int16_t* green, const int16_t* blue,
                   const std::array<uint8_t, 3>& noData, int32_t width, uint8_t* out);

}  // namespace quelmar
