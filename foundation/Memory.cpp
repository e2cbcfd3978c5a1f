#include "foundation/Memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "foundation/Fatal.h"

namespace {

// Blocks this large are whole messages or their written text: each of their fresh pages
// costs a fault, and asking for huge pages makes that one fault per 2 MB instead of per 4 KB.
constexpr size_t kHugeBlock = size_t{8} << 20;

void preferHugePages(void* p, size_t n) {
#ifdef MADV_HUGEPAGE
  if (n < kHugeBlock) return;
  // Only a block that is a mapping of its own, advised whole: advice on part of a mapping
  // splits it, and a split mapping can no longer grow in place when the block is enlarged.
  constexpr uintptr_t kPage = 4096;
  constexpr uintptr_t kHeader = 2 * sizeof(size_t);
  const uintptr_t start = reinterpret_cast<uintptr_t>(p) - kHeader;
  const uintptr_t length = malloc_usable_size(p) + kHeader;
  if (start % kPage != 0 || length % kPage != 0) return;
  // Advice only: where the kernel declines, the block works as it did.
  madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
#else
  (void)p;
  (void)n;
#endif
}

}  // namespace

void* vorlundAlloc(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) fatalError("out of memory");
  preferHugePages(p, n);
  return p;
}

// realloc lets large blocks move by remapping pages instead of copying, which keeps
// appending hundreds of megabytes linear in time.
void* vorlundRealloc(void* p, size_t n) {
  void* q = std::realloc(p, n == 0 ? 1 : n);
  if (q == nullptr) fatalError("out of memory");
  preferHugePages(q, n);
  return q;
}

void vorlundFree(void* p) { std::free(p); }
