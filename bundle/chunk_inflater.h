// Inflates the inner bundle's chunks one at a time with one zlib stream and
// one output buffer for all of them: extracting a product allocates once
// instead of twice per chunk (fresh buffers are zero-filled and page-faulted
// in, which cost more than inflating them).
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "util/scratch_buffer.h"

class ChunkInflater {
 public:
  ChunkInflater();
  ~ChunkInflater();
  ChunkInflater(const ChunkInflater&) = delete;
  ChunkInflater& operator=(const ChunkInflater&) = delete;

  // The chunk's plain bytes, exactly `plain_length` of them, valid until the
  // next call; null when the stored bytes are not one zlib stream of that
  // many bytes (bytes after the stream's end are ignored) or memory runs out.
  const uint8_t* Inflate(const uint8_t* stored, uint32_t stored_length, uint32_t plain_length);
  // The same into `out`, which holds `plain_length` bytes.
  bool InflateInto(const uint8_t* stored, uint32_t stored_length, uint8_t* out,
                   uint32_t plain_length);

 private:
  z_stream stream_;
  bool ready_ = false;
  ScratchBuffer plain_;
};
