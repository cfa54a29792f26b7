#include "util/read_ahead.h"

#include <new>

ReadAhead::ReadAhead(uint64_t count, size_t capacity, Fill fill, bool threaded)
    : count_(count), fill_(std::move(fill)) {
  if (!slots_[0].buffer.Reserve(capacity)) throw std::bad_alloc();
  if (!threaded || count < 2) return;
  for (size_t i = 1; i < kDepth; ++i)
    if (!slots_[i].buffer.Reserve(capacity)) return;  // the caller's thread does the work
  for (Slot& slot : slots_) {
    if (!slot.filled.ok() || !slot.free.ok()) return;
    slot.free.Post();
  }
  threaded_ = thread_.Start(&ReadAhead::Produce, this);
}

ReadAhead::~ReadAhead() {
  if (!threaded_) return;
  stop_ = true;
  // Whichever slot the fill thread waits for, it wakes, sees stop_ and ends.
  for (Slot& slot : slots_) slot.free.Post();
  thread_.Join();
}

void ReadAhead::Produce(void* context) {
  ReadAhead* self = static_cast<ReadAhead*>(context);
  for (uint64_t i = 0; i < self->count_; ++i) {
    Slot& slot = self->slots_[i % kDepth];
    slot.free.Take();
    if (self->stop_) return;
    slot.filled_ok = self->fill_(i, slot.buffer.data());
    const bool ok = slot.filled_ok;
    slot.filled.Post();  // the slot belongs to the caller from here on
    if (!ok) return;
  }
}

const uint8_t* ReadAhead::Next() {
  if (failed_ || next_ >= count_) return nullptr;
  const uint64_t index = next_++;
  if (!threaded_) {
    failed_ = !fill_(index, slots_[0].buffer.data());
    return failed_ ? nullptr : slots_[0].buffer.data();
  }
  if (held_) held_->free.Post();
  held_ = &slots_[index % kDepth];
  held_->filled.Take();
  failed_ = !held_->filled_ok;
  return failed_ ? nullptr : held_->buffer.data();
}
