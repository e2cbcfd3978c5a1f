// The common base of the string classes and most data classes: a virtual destructor, so
// owners can delete through the base, and a process-wide serial number for diagnostics.
#pragma once

#include <cstdint>

class VorlundObject {
 public:
  VorlundObject();
  VorlundObject(const VorlundObject&);
  VorlundObject& operator=(const VorlundObject&) { return *this; }
  virtual ~VorlundObject() = default;

  // Informational only; nothing compares serial numbers.
  uint32_t serialNumber() const { return serial_; }

 private:
  uint32_t serial_;
};

// A reference-counted object. The count starts at 0; the first owner calls addRef.
class RefCountedObject {
 public:
  RefCountedObject() = default;
  RefCountedObject(const RefCountedObject&) = delete;
  RefCountedObject& operator=(const RefCountedObject&) = delete;

  // Decrements the count when it is at least 1 and deletes the object when it reaches 0. A
  // count already at 0 or below is set to 0 and nothing is deleted. Returns the new count.
  virtual int32_t release();
  virtual ~RefCountedObject() = default;

  int32_t addRef() { return ++refCount_; }
  int32_t refCount() const { return refCount_; }

 private:
  int32_t refCount_ = 0;
};
