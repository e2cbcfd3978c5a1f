// The one allocator behind every text and byte block, so a block handed out by one class
// (takeString, takeData) can be freed or adopted by another.
#pragma once

#include <cstddef>

// Never returns null: running out of memory stops the process, as the component expects its
// allocator to succeed.
void* vorlundAlloc(size_t n);
void* vorlundRealloc(void* p, size_t n);
void vorlundFree(void* p);
