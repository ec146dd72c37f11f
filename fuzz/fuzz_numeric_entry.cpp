// libFuzzer target: the numeric texts and the numeric entry field.
#include <cstddef>
#include <cstdint>

#include "NumericDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelmar::fuzz::RunNumericInput(data, size);
  return 0;
}
