#include "util/MemoryPolicy.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quelmar {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  // Blocks below 32 MB come from the heap (the largest, a product's rows, are still mapped on
  // their own and given back whole), and the heap's free top is kept up to 256 MB.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

}  // namespace quelmar
