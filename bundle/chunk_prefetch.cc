#include "bundle/chunk_prefetch.h"

#include <algorithm>
#include <new>

ChunkPrefetch::ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                             std::vector<ChunkEntry> chunks)
    : descrambler_(descrambler), chunks_(std::move(chunks)) {
  if (chunks_.empty() || !file_.Open(path, FileAccess::kReadDenyWrite)) return;
  size_t capacity = 0;
  for (const ChunkEntry& chunk : chunks_) capacity = std::max<size_t>(capacity, chunk.plain_length);
  try {
    pieces_ = std::make_unique<ReadAhead>(
        chunks_.size(), capacity,
        [this](uint64_t index, uint8_t* buffer) { return Fill(index, buffer); },
        /*threaded=*/true);
  } catch (const std::bad_alloc&) {
    pieces_.reset();
  }
}

ChunkPrefetch::~ChunkPrefetch() { pieces_.reset(); }

bool ChunkPrefetch::Fill(uint64_t index, uint8_t* buffer) {
  const ChunkEntry& chunk = chunks_[static_cast<size_t>(index)];
  uint8_t* stored = stored_.Reserve(chunk.stored_length);
  if (!stored || !file_.Seek(static_cast<int64_t>(chunk.offset)) ||
      file_.Read(stored, chunk.stored_length) != chunk.stored_length)
    return false;
  descrambler_.set_state(chunk.state);
  descrambler_.Apply(stored, chunk.stored_length, chunk.offset);
  return inflater_.InflateInto(stored, chunk.stored_length, buffer, chunk.plain_length);
}

const uint8_t* ChunkPrefetch::Next() { return pieces_ ? pieces_->Next() : nullptr; }
