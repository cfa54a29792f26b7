// Reads, descrambles and inflates a planned series of inner bundle chunks on
// a second thread, a chunk or two ahead of the caller, so that all of that
// overlaps with the caller's writing. It reads through its own handle on the
// bundle file, so the bundle's own position and state are never touched from
// the second thread.
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

  // False when the file could not be opened or no memory was had; Next then
  // always answers null.
  bool ok() const { return pieces_ != nullptr; }
  // The next chunk's plain bytes, valid until the following call; null once
  // a chunk could not be read or inflated, or every chunk was taken.
  const uint8_t* Next();

 private:
  bool Fill(uint64_t index, uint8_t* buffer);

  BufferedFile file_;
  Descrambler descrambler_;
  std::vector<ChunkEntry> chunks_;
  ScratchBuffer stored_;
  ChunkInflater inflater_;
  std::unique_ptr<ReadAhead> pieces_;  // destroyed first: its thread uses the members above
};
