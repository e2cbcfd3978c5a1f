#include "foundation/Fatal.h"

#include <cstdio>
#include <cstdlib>

void fatalError(const char* reason) {
  std::fprintf(stderr, "VorlundMime internal error: %s\n", reason);
  std::fflush(stderr);
  std::abort();
}
