#include "foundation/Memory.h"

#include <cstdlib>

#include "foundation/Fatal.h"
#include "platform/HugePagesInternal.h"

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
