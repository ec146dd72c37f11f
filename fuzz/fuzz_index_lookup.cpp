// libFuzzer target: the cumulative index lookup, its times and the calibration record.
#include <cstddef>
#include <cstdint>

#include "IndexDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelmar::fuzz::RunIndexInput(data, size);
  return 0;
}
