// Reads, descrambles and inflates a planned series of inner bundle chunks
// ahead of the caller, on two threads: chunks are independent zlib streams
// with their descrambler state in the index, so alternate chunks go to
// alternate threads and inflating, the costliest step, uses both cores while
// the caller writes. Each thread reads through its own handle on the bundle
// file, so the bundle's own position and state are never touched.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bundle/buffered_file.h"
#include "bundle/bundle_file.h"
#include "bundle/chunk_inflater.h"
#include "bundle/descrambler.h"
#include "util/read_ahead.h"

class ChunkPrefetch {
 public:
  // `descrambler` gives the key; each chunk carries its own state. Chunks
  // are handed out in the order given.
  ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                std::vector<ChunkEntry> chunks);
  ~ChunkPrefetch();
  ChunkPrefetch(const ChunkPrefetch&) = delete;
  ChunkPrefetch& operator=(const ChunkPrefetch&) = delete;

  // False when a handle or memory could not be had; Next then always
  // answers null.
  bool ok() const { return ok_; }
  // The next chunk's plain bytes, valid until the following call; null once
  // a chunk could not be read or inflated, or every chunk was taken.
  const uint8_t* Next();

 private:
  static constexpr size_t kLanes = 2;
  // One thread's share: chunks lane, lane + kLanes, ...
  struct Lane {
    BufferedFile file;
    Descrambler descrambler;
    ScratchBuffer stored;
    ChunkInflater inflater;
    std::unique_ptr<ReadAhead> pieces;  // reset first: its thread uses the members above
  };
  bool Fill(Lane* lane, size_t chunk, uint8_t* buffer);

  std::vector<ChunkEntry> chunks_;
  std::unique_ptr<Lane> lanes_[kLanes];
  size_t next_ = 0;
  bool ok_ = false;
};
