// libFuzzer target: the label lines, keyword values, band count and wavelengths.
#include <cstddef>
#include <cstdint>

#include "LabelDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelmar::fuzz::RunLabelInput(data, size);
  return 0;
}
