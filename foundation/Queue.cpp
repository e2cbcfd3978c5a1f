#include "foundation/Queue.h"

Queue::~Queue() {
  while (head_ != nullptr) {
    QueuedObject* next = head_->next();
    delete head_;
    head_ = next;
  }
}

void Queue::push(void* value) {
  auto* node = new QueuedObject(value);
  if (tail_ == nullptr)
    head_ = node;
  else
    tail_->setNext(node);
  tail_ = node;
  ++count_;
}

void* Queue::pop() {
  if (head_ == nullptr) return nullptr;
  QueuedObject* node = head_;
  head_ = node->next();
  if (head_ == nullptr) tail_ = nullptr;
  void* value = node->value();
  delete node;
  --count_;
  return value;
}
