#include "bundle/chunk_prefetch.h"

#include <algorithm>
#include <new>

ChunkPrefetch::ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                             std::vector<ChunkEntry> chunks, size_t lanes, size_t ring_bytes)
    : chunks_(std::move(chunks)) {
  if (chunks_.empty()) return;
  uint64_t total = 0;
  size_t largest = 0;
  for (const ChunkEntry& chunk : chunks_) {
    total += chunk.plain_length;
    largest = std::max<size_t>(largest, chunk.plain_length);
  }
  ring_size_ = static_cast<size_t>(std::min<uint64_t>(std::max(ring_bytes, largest), total));
  if (ring_size_ == 0) ring_size_ = 1;  // chunks of no bytes still get a place
  try {
    if (!ring_.Reserve(ring_size_)) return;
    for (Ticket& ticket : tickets_)
      if (!ticket.filled.ok()) return;
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
    if (!self->FillChunk(lane, n)) return;  // the caller stops at this chunk
  }
}

bool ChunkPrefetch::FillChunk(Lane* lane, size_t number) {
  Ticket& ticket = tickets_[number % kTickets];
  const bool ok = Fill(lane, number, ticket.plain);
  ticket.filled_ok = ok;
  // The ticket belongs to the caller from here on, and may soon carry a
  // later chunk: only the local verdict is read after the hand-off.
  ticket.filled.Post();
  return ok;
}

bool ChunkPrefetch::TakeNext(size_t* number) {
  if (claimed_ >= released_ + kTickets) return false;
  const size_t size = chunks_[claimed_].plain_length;
  // A chunk never wraps: one that would is placed at the ring's start.
  uint64_t start = head_;
  if (start % ring_size_ + size > ring_size_) start += ring_size_ - start % ring_size_;
  // The bytes from the oldest chunk in flight to this one's end must fit;
  // with none in flight every chunk fits (the ring holds the largest).
  const uint64_t oldest = claimed_ == released_ ? start : tickets_[released_ % kTickets].start;
  if (start + size - oldest > ring_size_) return false;
  Ticket& ticket = tickets_[claimed_ % kTickets];
  ticket.start = start;
  ticket.plain = ring_.data() + start % ring_size_;
  head_ = start + size;
  *number = claimed_++;
  return true;
}

bool ChunkPrefetch::TryClaim(size_t* number) {
  lock_.Lock();
  const bool go = !stop_ && claimed_ < chunks_.size() && TakeNext(number);
  lock_.Unlock();
  return go;
}

bool ChunkPrefetch::Claim(Lane* lane, size_t* number) {
  lock_.Lock();
  bool go = false;
  while (!stop_ && claimed_ < chunks_.size() && !(go = TakeNext(number))) {
    lane->waiting = true;
    lock_.Unlock();
    lane->wake.Take();
    lock_.Lock();
  }
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
  Ticket& ticket = tickets_[next_++ % kTickets];
  // Rather than wait, fill a later chunk (or this one, if no thread has it yet).
  size_t number = 0;
  while (caller_ && !ticket.filled.posted() && TryClaim(&number)) FillChunk(caller_.get(), number);
  ticket.filled.Take();
  holding_ = true;
  failed_ = !ticket.filled_ok;
  return failed_ ? nullptr : ticket.plain;
}
