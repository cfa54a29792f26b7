// Produces numbered pieces of a stream a little ahead of their consumer: a
// second thread fills a small ring of reused buffers while the caller works
// on the piece before. Pieces reach the caller in order, and the fill
// callback runs for them in order, so a reader that hashes as it reads sees
// the same bytes in the same order as a single-threaded loop would.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "util/scratch_buffer.h"
#include "util/sync.h"

class ReadAhead {
 public:
  // Fills `buffer` (capacity bytes) with piece `index`; false stops the stream.
  using Fill = std::function<bool(uint64_t index, uint8_t* buffer)>;

  // Without `threaded`, or when no thread can be had, each piece is filled on
  // the caller's thread when it asks for it. Throws std::bad_alloc.
  ReadAhead(uint64_t count, size_t capacity, Fill fill, bool threaded);
  // Stops the fill thread after the piece it is on and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next piece, valid until the following call; null once a fill failed
  // or all pieces were taken.
  const uint8_t* Next();

 private:
  static constexpr size_t kDepth = 2;
  struct Slot {
    ScratchBuffer buffer;
    bool filled_ok = false;
    Handoff filled;
    Handoff free;
  };
  static void Produce(void* self);

  const uint64_t count_;
  Fill fill_;
  Slot slots_[kDepth];
  std::atomic<bool> stop_{false};
  bool threaded_ = false;
  bool failed_ = false;
  uint64_t next_ = 0;
  Slot* held_ = nullptr;  // the piece the caller has
  Thread thread_;
};
