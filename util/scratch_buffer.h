// A grow-only byte buffer whose contents are not initialised: a fresh buffer's
// pages are touched (and counted in the process's memory) only as data lands
// in them, and no time goes into zero-filling what is overwritten anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

class ScratchBuffer {
 public:
  // At least `n` bytes, old contents lost on growth; null when memory runs out.
  uint8_t* Reserve(size_t n) {
    if (n <= capacity_ && bytes_) return bytes_.get();
    bytes_.reset(new (std::nothrow) uint8_t[n ? n : 1]);
    capacity_ = bytes_ ? n : 0;
    return bytes_.get();
  }
  uint8_t* data() const { return bytes_.get(); }
  size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t capacity_ = 0;
};
