// libFuzzer target: the settings file and a corrected stack.
#include <cstddef>
#include <cstdint>

#include "SettingsDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelmar::fuzz::RunSettingsInput(data, size);
  return 0;
}
