// Reads, descrambles and inflates a planned series of inner bundle chunks
// ahead of the caller, on threads of their own, while the caller writes the
// files: chunks are independent zlib streams with their descrambler state in
// the index. One core is left to the caller (and, under Wine, to its server,
// which every file created, written and closed goes through), so there are
// as many threads as further processors, at least one: on two cores a second
// inflating thread made extraction slower, not faster. With several threads,
// whichever is free takes the next chunk: chunks differ widely in cost (a text
// chunk inflates several times slower than a stored one), so a thread never
// waits for its turn, only for room. The plain bytes of the chunks in flight
// share one ring, placed in chunk order: a thread may run ahead by many small
// chunks or a few large ones, within a fixed amount of memory (with a buffer
// per chunk, a run of small files stalled the threads while the caller
// created them, and larger buffers meant more memory). Each thread reads
// through its own handle on the bundle file, so the bundle's own position and
// state are never touched. A caller that would wait for its chunk inflates a
// later one itself meanwhile, through a handle of its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bundle/buffered_file.h"
#include "bundle/bundle_file.h"
#include "bundle/chunk_inflater.h"
#include "bundle/descrambler.h"
#include "util/sync.h"

class ChunkPrefetch {
 public:
  // `descrambler` gives the key; each chunk carries its own state. Chunks
  // are handed out in the order given. `lanes` threads (0: one per processor
  // beyond the first, at least one; at most kMaxLanes). The ring holds
  // `ring_bytes`, or the largest chunk if that is larger, or all the chunks if
  // they are fewer bytes.
  ChunkPrefetch(const std::wstring& path, const Descrambler& descrambler,
                std::vector<ChunkEntry> chunks, size_t lanes = 0,
                size_t ring_bytes = kRingBytes);
  // Stops the threads after the chunks they are on and waits for them.
  ~ChunkPrefetch();
  ChunkPrefetch(const ChunkPrefetch&) = delete;
  ChunkPrefetch& operator=(const ChunkPrefetch&) = delete;

  // False when a handle, a thread or memory could not be had; Next then
  // always answers null.
  bool ok() const { return ok_; }
  // The next chunk's plain bytes, valid until the following call; null once
  // a chunk could not be read or inflated, or every chunk was taken.
  const uint8_t* Next();

  static constexpr size_t kMaxLanes = 3;
  static constexpr size_t kRingBytes = 4u << 20;

 private:
  // Chunk n travels with ticket n % kTickets; a thread may take chunk n only
  // once the caller has let go of chunk n - kTickets and its bytes fit.
  static constexpr size_t kTickets = 32;
  struct Lane {
    ChunkPrefetch* owner = nullptr;
    BufferedFile file;
    Descrambler descrambler;
    ScratchBuffer stored;
    ChunkInflater inflater;
    Handoff wake;          // posted when room frees up or the work stops
    bool waiting = false;  // under lock_
    Thread thread;
  };
  struct Ticket {
    uint64_t start = 0;        // under lock_: where its bytes begin, counted
                               // without wrapping (the ring offset is start % ring_size_)
    uint8_t* plain = nullptr;  // in the ring; set when the chunk is taken
    bool filled_ok = false;
    Handoff filled;
  };
  static void Work(void* lane);
  // Under lock_: takes the next chunk if its ticket is free and its bytes fit.
  bool TakeNext(size_t* number);
  // The next chunk number for `lane`, once there is room for it; false when
  // the work is over.
  bool Claim(Lane* lane, size_t* number);
  // The next chunk number if there is room for it now.
  bool TryClaim(size_t* number);
  // Fills chunk `number` and hands it to the caller; its verdict.
  bool FillChunk(Lane* lane, size_t number);
  // The caller is done with its chunk: its bytes are free.
  void Release();
  // Under lock_: wakes every thread waiting for room.
  void WakeWaiting();
  void Stop();
  bool Fill(Lane* lane, size_t chunk, uint8_t* buffer);

  std::vector<ChunkEntry> chunks_;
  Ticket tickets_[kTickets];
  ScratchBuffer ring_;  // not zero-filled: pages are touched only as chunks fill them
  size_t ring_size_ = 0;
  std::unique_ptr<Lane> lanes_[kMaxLanes];
  std::unique_ptr<Lane> caller_;  // the caller's own, for chunks it fills while it waits
  Mutex lock_;
  size_t claimed_ = 0;   // under lock_: chunks taken by the threads
  size_t released_ = 0;  // under lock_: chunks the caller let go of
  uint64_t head_ = 0;    // under lock_: where the next chunk's bytes go, unwrapped
  bool stop_ = false;    // under lock_
  size_t next_ = 0;      // the caller's next chunk
  bool holding_ = false;
  bool failed_ = false;
  bool ok_ = false;
};
