// libFuzzer target: the EDR loader and the pictures built from what it read.
#include <cstddef>
#include <cstdint>

#include "EdrLoaderDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelmar::fuzz::RunEdrLoaderInput(data, size);
  return 0;
}
