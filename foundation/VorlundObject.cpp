#include "foundation/VorlundObject.h"

namespace {
// Unguarded on purpose: the component runs in one apartment thread and nothing relies on
// serial numbers being unique.
uint32_t g_nextSerial = 0;
}  // namespace

VorlundObject::VorlundObject() : serial_(++g_nextSerial) {}

VorlundObject::VorlundObject(const VorlundObject&) : serial_(++g_nextSerial) {}

int32_t RefCountedObject::release() {
  if (refCount_ <= 0) {
    refCount_ = 0;
    return 0;
  }
  if (--refCount_ == 0) {
    delete this;
    return 0;
  }
  return refCount_;
}
