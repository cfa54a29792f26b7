#include "bundle/chunk_prefetch.h"

#include <algorithm>
#include <new>

ChunkPrefetch::ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                             std::vector<ChunkEntry> chunks, size_t lanes)
    : chunks_(std::move(chunks)) {
  if (chunks_.empty()) return;
  size_t capacity = 0;
  for (const ChunkEntry& chunk : chunks_) capacity = std::max<size_t>(capacity, chunk.plain_length);
  try {
    for (size_t s = 0; s < kSlots && s < chunks_.size(); ++s) {
      if (!slots_[s].filled.ok() || !slots_[s].buffer.Reserve(capacity)) return;
    }
    if (lanes == 0) lanes = std::max<uint32_t>(PlatformProcessorCount(), 2) - 1;
    lanes = std::min(lanes, kMaxLanes);
    for (size_t l = 0; l < lanes && l < chunks_.size(); ++l) {
      lanes_[l] = std::make_unique<Lane>();
      Lane* lane = lanes_[l].get();
      lane->owner = this;
      lane->descrambler = descrambler;
      if (!lane->wake.ok() || !lane->file.Open(path, FileAccess::kReadDenyWrite)) break;
      if (!lane->thread.Start(&ChunkPrefetch::Work, lane)) break;
      ok_ = true;  // one thread is enough to go on
    }
    if (ok_) {
      auto caller = std::make_unique<Lane>();
      caller->descrambler = descrambler;
      if (caller->file.Open(path, FileAccess::kReadDenyWrite)) caller_ = std::move(caller);
    }
  } catch (const std::bad_alloc&) {
  }
  if (!ok_) Stop();
}

ChunkPrefetch::~ChunkPrefetch() { Stop(); }

void ChunkPrefetch::Stop() {
  lock_.Lock();
  stop_ = true;
  WakeWaiting();
  lock_.Unlock();
  for (auto& lane : lanes_)
    if (lane) lane->thread.Join();
}

void ChunkPrefetch::WakeWaiting() {
  for (auto& lane : lanes_) {
    if (lane && lane->waiting) {
      lane->waiting = false;
      lane->wake.Post();
    }
  }
}

void ChunkPrefetch::Work(void* context) {
  Lane* lane = static_cast<Lane*>(context);
  ChunkPrefetch* self = lane->owner;
  size_t n = 0;
  while (self->Claim(lane, &n)) {
    self->FillSlot(lane, n);
    if (!self->slots_[n % kSlots].filled_ok) return;  // the caller stops at this chunk
  }
}

void ChunkPrefetch::FillSlot(Lane* lane, size_t number) {
  Slot& slot = slots_[number % kSlots];
  slot.filled_ok = Fill(lane, number, slot.buffer.data());
  slot.filled.Post();  // the slot belongs to the caller from here on
}

bool ChunkPrefetch::TryClaim(size_t* number) {
  lock_.Lock();
  const bool go = !stop_ && claimed_ < chunks_.size() && claimed_ < released_ + kSlots;
  if (go) *number = claimed_++;
  lock_.Unlock();
  return go;
}

bool ChunkPrefetch::Claim(Lane* lane, size_t* number) {
  lock_.Lock();
  while (!stop_ && claimed_ < chunks_.size() && claimed_ >= released_ + kSlots) {
    lane->waiting = true;
    lock_.Unlock();
    lane->wake.Take();
    lock_.Lock();
  }
  const bool go = !stop_ && claimed_ < chunks_.size();
  if (go) *number = claimed_++;
  lock_.Unlock();
  return go;
}

void ChunkPrefetch::Release() {
  lock_.Lock();
  ++released_;
  WakeWaiting();
  lock_.Unlock();
}

bool ChunkPrefetch::Fill(Lane* lane, size_t number, uint8_t* buffer) {
  const ChunkEntry& chunk = chunks_[number];
  uint8_t* stored = lane->stored.Reserve(chunk.stored_length);
  if (!stored || !lane->file.Seek(static_cast<int64_t>(chunk.offset)) ||
      lane->file.Read(stored, chunk.stored_length) != chunk.stored_length)
    return false;
  lane->descrambler.set_state(chunk.state);
  lane->descrambler.Apply(stored, chunk.stored_length, chunk.offset);
  return lane->inflater.InflateInto(stored, chunk.stored_length, buffer, chunk.plain_length);
}

const uint8_t* ChunkPrefetch::Next() {
  if (!ok_ || failed_ || next_ >= chunks_.size()) return nullptr;
  if (holding_) Release();
  Slot& slot = slots_[next_++ % kSlots];
  // Rather than wait, fill a later chunk (or this one, if no thread has it yet).
  size_t number = 0;
  while (caller_ && !slot.filled.posted() && TryClaim(&number)) FillSlot(caller_.get(), number);
  slot.filled.Take();
  holding_ = true;
  failed_ = !slot.filled_ok;
  return failed_ ? nullptr : slot.buffer.data();
}
