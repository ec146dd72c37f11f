#include "util/LargeBlock.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quelmar {

namespace {
// Blocks at least this large start on a huge-page boundary and are marked for huge pages.
constexpr size_t kHugePage = size_t{2} << 20;
}  // namespace

void LargeBlockFree::operator()(uint8_t* p) const noexcept {
  ::operator delete[](p, alignment);
}

LargeBlock AllocateLargeBlock(size_t bytes) noexcept {
  if (bytes == 0) bytes = 1;
  LargeBlockFree release;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes >= kHugePage) {
    release.alignment = std::align_val_t{kHugePage};
    bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  }
#endif
  void* p = ::operator new[](bytes, release.alignment, std::nothrow);
  if (!p) return LargeBlock(nullptr, release);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only advice: where the system has no huge pages to give, the block works all the same.
  if (release.alignment == std::align_val_t{kHugePage}) madvise(p, bytes, MADV_HUGEPAGE);
#endif
  return LargeBlock(static_cast<uint8_t*>(p), release);
}

}  // namespace quelmar
