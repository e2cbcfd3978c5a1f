#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

#include "platform/HugePagesInternal.h"

namespace {
// Whole messages and their written or widened texts; smaller blocks stay as they are.
constexpr size_t kHugeBlock = size_t{8} << 20;
constexpr uintptr_t kPage = 4096;
// malloc puts a block that has a mapping of its own this far into the mapping.
constexpr uintptr_t kHeader = 2 * sizeof(size_t);
}  // namespace

void preferHugePages(void* block, size_t n) {
#ifdef MADV_HUGEPAGE
  if (block == nullptr || n < kHugeBlock) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(block) - kHeader;
  const uintptr_t length = malloc_usable_size(block) + kHeader;
  if (start % kPage != 0 || length % kPage != 0) return;
  // Advice only: where the kernel declines, the block works as it did.
  madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
#else
  (void)block;
  (void)n;
#endif
}
