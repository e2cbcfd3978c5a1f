// Growable arrays of object pointers and of 32-bit integers.
#pragma once

#include <cstdint>

#include "foundation/VorlundObject.h"

// An array of object pointers. Destroying it frees only the slot block; an owner deletes
// the elements with removeAllObjects first.
class ExtPtrArray {
 public:
  // Allocates nothing; the first insertion allocates 5 slots.
  ExtPtrArray() = default;
  // Values below 1 become 5; the slot block is allocated at once.
  ExtPtrArray(int32_t initialCapacity, int32_t growthStep);
  ExtPtrArray(const ExtPtrArray&) = delete;
  ExtPtrArray& operator=(const ExtPtrArray&) = delete;
  virtual ~ExtPtrArray();

  // Returns the new count.
  int32_t appendPtr(VorlundObject* p);
  // Null outside 0..count-1.
  VorlundObject* getAt(int32_t index) const;
  template <typename T>
  T* getAs(int32_t index) const {
    return static_cast<T*>(getAt(index));
  }
  VorlundObject* lastElement() const;
  // Extends the array with null slots up to the index when needed.
  void setAt(int32_t index, VorlundObject* p);
  // The removed pointer (null outside the range); later slots shift down.
  VorlundObject* removeAt(int32_t index);
  // Removes and returns the last pointer, null when empty.
  VorlundObject* pop();
  int32_t getSize() const { return count_; }
  int32_t capacity() const { return capacity_; }
  int32_t growthStep() const { return growthStep_; }

  // Deletes every non-null element, then empties the array.
  void removeAllObjects();
  // Empties the array without deleting anything.
  void clear() { count_ = 0; }

 private:
  void growFor(int32_t count);

  int32_t growthStep_ = 5;
  int32_t capacity_ = 0;
  int32_t count_ = 0;
  VorlundObject** slots_ = nullptr;
};

class ExtIntArray {
 public:
  // A capacity below 1 becomes 2; a step below 1 becomes 1.
  explicit ExtIntArray(int32_t initialCapacity = 2, int32_t growthStep = 2);
  ExtIntArray(const ExtIntArray&) = delete;
  ExtIntArray& operator=(const ExtIntArray&) = delete;
  virtual ~ExtIntArray();

  int32_t append(int32_t value);
  // 0 outside the range.
  int32_t getAt(int32_t index) const;
  int32_t getSize() const { return count_; }
  int32_t capacity() const { return capacity_; }
  void clear() { count_ = 0; }

 private:
  int32_t growthStep_;
  int32_t capacity_;
  int32_t count_ = 0;
  int32_t* slots_;
};
