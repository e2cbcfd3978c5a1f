// Large blocks of the process's allocator asked to be backed by huge pages.
#pragma once

#include <cstddef>

// Advises the kernel to back `block` (n bytes from malloc or realloc) with huge pages when it
// is large: a whole message read, written or widened touches every page of it once, and a
// fresh page costs a fault, so that is one fault per 2 MB instead of one per 4 KB. Only blocks
// that are a mapping of their own are advised, and whole: advice on part of a mapping splits it,
// and a split mapping no longer grows in place when the block is enlarged.
void preferHugePages(void* block, size_t n);
