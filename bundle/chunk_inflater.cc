#include "bundle/chunk_inflater.h"

#include <cstring>
#include <new>

ChunkInflater::ChunkInflater() {
  std::memset(&stream_, 0, sizeof stream_);
  ready_ = inflateInit(&stream_) == Z_OK;
}

ChunkInflater::~ChunkInflater() {
  if (ready_) inflateEnd(&stream_);
}

const uint8_t* ChunkInflater::Inflate(const uint8_t* stored, uint32_t stored_length,
                                      uint32_t plain_length) {
  uint8_t* out = plain_.Reserve(plain_length);
  return out && InflateInto(stored, stored_length, out, plain_length) ? out : nullptr;
}

bool ChunkInflater::InflateInto(const uint8_t* stored, uint32_t stored_length, uint8_t* out,
                                uint32_t plain_length) {
  if (!ready_ || inflateReset(&stream_) != Z_OK) return false;
  stream_.next_in = const_cast<Bytef*>(stored);
  stream_.avail_in = stored_length;
  stream_.next_out = out;
  stream_.avail_out = plain_length;
  // The stream must end exactly where the chunk's plain length does: one that
  // ends early would leave the tail undefined, one that runs on is corrupt.
  const int result = inflate(&stream_, Z_FINISH);
  return result == Z_STREAM_END && stream_.total_out == plain_length;
}
