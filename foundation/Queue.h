// A singly linked first-in first-out queue of pointers. The queue owns its nodes, not the
// values they carry.
#pragma once

#include <cstdint>

class QueuedObject {
 public:
  explicit QueuedObject(void* value) : value_(value) {}
  QueuedObject(const QueuedObject&) = delete;
  QueuedObject& operator=(const QueuedObject&) = delete;
  virtual ~QueuedObject() = default;

  void* value() const { return value_; }
  QueuedObject* next() const { return next_; }
  void setNext(QueuedObject* n) { next_ = n; }

 private:
  void* value_;
  QueuedObject* next_ = nullptr;
};

class Queue {
 public:
  Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;
  // Deletes the remaining nodes; the values are the caller's.
  virtual ~Queue();

  void push(void* value);
  // Removes the head node and returns its value; null when the queue is empty.
  void* pop();
  // The value at the head without removing it.
  void* peek() const { return head_ != nullptr ? head_->value() : nullptr; }
  bool isEmpty() const { return head_ == nullptr; }
  int32_t size() const { return count_; }

 private:
  QueuedObject* head_ = nullptr;
  QueuedObject* tail_ = nullptr;
  int32_t count_ = 0;
};
