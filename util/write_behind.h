// Hands pieces of a stream to a second thread that works on them in order, a
// little behind the caller: each piece is copied into a small ring of reused
// buffers and the caller goes on at once. The mirror image of ReadAhead: there
// the second thread produces, here it consumes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "util/scratch_buffer.h"
#include "util/sync.h"

class WriteBehind {
 public:
  // Works on one piece (its own copy, which it may change); false stops the
  // stream: later pieces are dropped and Finish answers false.
  using Work = std::function<bool(uint8_t* data, size_t n)>;

  // Pieces hold at most `capacity` bytes. Without `threaded`, or when no
  // thread can be had, each piece is worked on inside Push. Throws
  // std::bad_alloc.
  WriteBehind(size_t capacity, Work work, bool threaded);
  // Waits for the piece in work and drops the rest.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Copies up to `capacity` bytes for the worker; false once a piece failed,
  // a piece was too large, or after Finish.
  bool Push(const uint8_t* data, size_t n);
  // Waits until every piece pushed has been worked on; true when all were.
  bool Finish();

 private:
  static constexpr size_t kDepth = 2;
  struct Slot {
    ScratchBuffer buffer;
    size_t length = 0;
    bool last = false;  // no piece: the worker ends here
    Handoff filled;
    Handoff free;
  };
  static void Consume(void* self);
  void End();

  Work work_;
  Slot slots_[kDepth];
  std::atomic<bool> failed_{false};
  std::atomic<bool> drop_{false};
  bool threaded_ = false;
  bool finished_ = false;
  uint64_t next_ = 0;
  Thread thread_;
};
