#include "foundation/ExtPtrArray.h"

#include <cstdlib>
#include <cstring>

#include "foundation/Fatal.h"

namespace {

constexpr int32_t kPtrStepCeiling = 100000;
constexpr int32_t kIntStepCeiling = 500000;

// A zero-filled block of `newCap` slots holding the first `used` slots of `old`.
template <typename T>
T* regrow(T* old, int32_t used, int32_t newCap) {
  T* block = static_cast<T*>(std::realloc(old, sizeof(T) * static_cast<size_t>(newCap)));
  if (block == nullptr) fatalError("out of memory growing an array");
  std::memset(block + used, 0, sizeof(T) * static_cast<size_t>(newCap - used));
  return block;
}

// The new capacity and step after an insertion made the count exceed the capacity: the
// steps double until they reach the ceiling.
void nextCapacity(int32_t count, int32_t ceiling, int32_t& capacity, int32_t& step) {
  int32_t grown = capacity + step;
  if (grown < count + 1) grown = count + 1;
  capacity = grown;
  if (step < ceiling) step = grown < ceiling ? grown : ceiling;
}

}  // namespace

ExtPtrArray::ExtPtrArray(int32_t initialCapacity, int32_t growthStep)
    : growthStep_(growthStep < 1 ? 5 : growthStep),
      capacity_(initialCapacity < 1 ? 5 : initialCapacity) {
  slots_ = regrow<VorlundObject*>(nullptr, 0, capacity_);
}

ExtPtrArray::~ExtPtrArray() { std::free(slots_); }

void ExtPtrArray::growFor(int32_t count) {
  if (count <= capacity_) return;
  const int32_t used = capacity_;
  if (slots_ == nullptr && capacity_ == 0) {
    capacity_ = count > 5 ? count : 5;
  } else {
    nextCapacity(count, kPtrStepCeiling, capacity_, growthStep_);
  }
  slots_ = regrow(slots_, used, capacity_);
}

int32_t ExtPtrArray::appendPtr(VorlundObject* p) {
  growFor(count_ + 1);
  slots_[count_++] = p;
  return count_;
}

VorlundObject* ExtPtrArray::getAt(int32_t index) const {
  if (index < 0 || index >= count_) return nullptr;
  return slots_[index];
}

VorlundObject* ExtPtrArray::lastElement() const {
  return count_ > 0 ? slots_[count_ - 1] : nullptr;
}

void ExtPtrArray::setAt(int32_t index, VorlundObject* p) {
  if (index < 0) return;
  if (index >= count_) {
    growFor(index + 1);
    for (int32_t i = count_; i < index; ++i) slots_[i] = nullptr;
    count_ = index + 1;
  }
  slots_[index] = p;
}

VorlundObject* ExtPtrArray::removeAt(int32_t index) {
  if (index < 0 || index >= count_) return nullptr;
  VorlundObject* p = slots_[index];
  std::memmove(slots_ + index, slots_ + index + 1,
               sizeof(VorlundObject*) * static_cast<size_t>(count_ - index - 1));
  --count_;
  return p;
}

VorlundObject* ExtPtrArray::pop() {
  if (count_ == 0) return nullptr;
  return slots_[--count_];
}

void ExtPtrArray::removeAllObjects() {
  for (int32_t i = 0; i < count_; ++i) {
    delete slots_[i];
    slots_[i] = nullptr;
  }
  count_ = 0;
}

ExtIntArray::ExtIntArray(int32_t initialCapacity, int32_t growthStep)
    : growthStep_(growthStep < 1 ? 1 : growthStep),
      capacity_(initialCapacity < 1 ? 2 : initialCapacity) {
  slots_ = regrow<int32_t>(nullptr, 0, capacity_);
}

ExtIntArray::~ExtIntArray() { std::free(slots_); }

int32_t ExtIntArray::append(int32_t value) {
  if (count_ + 1 > capacity_) {
    const int32_t used = capacity_;
    nextCapacity(count_ + 1, kIntStepCeiling, capacity_, growthStep_);
    slots_ = regrow(slots_, used, capacity_);
  }
  slots_[count_++] = value;
  return count_;
}

int32_t ExtIntArray::getAt(int32_t index) const {
  return index >= 0 && index < count_ ? slots_[index] : 0;
}
