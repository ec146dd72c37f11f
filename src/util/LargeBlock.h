#pragma once
// Blocks of bytes for the largest things the program holds (a product's rows). On systems that
// have them, large blocks are asked to be backed by huge memory pages: a corrected stack reads
// every framelet of a product in a new place, and with small pages each of those reads first
// waits for the processor to translate a new address; the first load of a large product also
// takes far fewer page faults.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace quelmar {

struct LargeBlockFree {
  std::align_val_t alignment{alignof(std::max_align_t)};
  void operator()(uint8_t* p) const noexcept;
};
using LargeBlock = std::unique_ptr<uint8_t[], LargeBlockFree>;

// A block of `bytes` (contents unspecified), or an empty one when the memory cannot be had.
LargeBlock AllocateLargeBlock(size_t bytes) noexcept;

}  // namespace quelmar
