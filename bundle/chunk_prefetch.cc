#include "bundle/chunk_prefetch.h"

#include <algorithm>
#include <new>

ChunkPrefetch::ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                             std::vector<ChunkEntry> chunks)
    : chunks_(std::move(chunks)) {
  if (chunks_.empty()) return;
  size_t capacity = 0;
  for (const ChunkEntry& chunk : chunks_) capacity = std::max<size_t>(capacity, chunk.plain_length);
  try {
    for (size_t l = 0; l < kLanes && l < chunks_.size(); ++l) {
      lanes_[l] = std::make_unique<Lane>();
      Lane* lane = lanes_[l].get();
      if (!lane->file.Open(path, FileAccess::kReadDenyWrite)) return;
      lane->descrambler = descrambler;
      const uint64_t count = (chunks_.size() - l + kLanes - 1) / kLanes;
      lane->pieces = std::make_unique<ReadAhead>(
          count, capacity,
          [this, lane, l](uint64_t index, uint8_t* buffer) {
            return Fill(lane, static_cast<size_t>(index) * kLanes + l, buffer);
          },
          /*threaded=*/true);
    }
  } catch (const std::bad_alloc&) {
    return;
  }
  ok_ = true;
}

ChunkPrefetch::~ChunkPrefetch() {
  for (auto& lane : lanes_)
    if (lane) lane->pieces.reset();
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
  if (!ok_ || next_ >= chunks_.size()) return nullptr;
  Lane* lane = lanes_[next_ % kLanes].get();
  ++next_;
  return lane->pieces->Next();
}
