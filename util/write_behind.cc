#include "util/write_behind.h"

#include <cstring>
#include <new>

WriteBehind::WriteBehind(size_t capacity, Work work, bool threaded) : work_(std::move(work)) {
  if (!slots_[0].buffer.Reserve(capacity)) throw std::bad_alloc();
  if (!threaded) return;
  for (size_t i = 1; i < kDepth; ++i)
    if (!slots_[i].buffer.Reserve(capacity)) return;  // the caller's thread does the work
  for (Slot& slot : slots_) {
    if (!slot.filled.ok() || !slot.free.ok()) return;
    slot.free.Post();
  }
  threaded_ = thread_.Start(&WriteBehind::Consume, this);
}

WriteBehind::~WriteBehind() {
  drop_ = true;
  End();
}

void WriteBehind::Consume(void* context) {
  WriteBehind* self = static_cast<WriteBehind*>(context);
  for (uint64_t i = 0;; ++i) {
    Slot& slot = self->slots_[i % kDepth];
    slot.filled.Take();
    if (slot.last) return;
    if (!self->drop_ && !self->failed_ && !self->work_(slot.buffer.data(), slot.length))
      self->failed_ = true;
    slot.free.Post();
  }
}

bool WriteBehind::Push(const uint8_t* data, size_t n) {
  if (finished_ || failed_ || n > slots_[0].buffer.capacity()) return false;
  if (!threaded_) {
    std::memcpy(slots_[0].buffer.data(), data, n);
    if (!work_(slots_[0].buffer.data(), n)) failed_ = true;
    return !failed_;
  }
  Slot& slot = slots_[next_++ % kDepth];
  slot.free.Take();
  std::memcpy(slot.buffer.data(), data, n);
  slot.length = n;
  slot.filled.Post();  // the slot belongs to the worker from here on
  return !failed_;
}

void WriteBehind::End() {
  if (finished_) return;
  finished_ = true;
  if (!threaded_) return;
  Slot& slot = slots_[next_ % kDepth];
  slot.free.Take();
  slot.last = true;
  slot.filled.Post();
  thread_.Join();
}

bool WriteBehind::Finish() {
  End();
  return !failed_;
}
