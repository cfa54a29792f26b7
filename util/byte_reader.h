// Checked little-endian access to untrusted bytes. Every read states its offset;
// bounds are computed in 64-bit so no offset+length can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
 public:
  ByteReader(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}

  uint64_t size() const { return size_; }
  const uint8_t* data() const { return data_; }

  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool U8(uint64_t offset, uint8_t* out) const {
    if (!Contains(offset, 1)) return false;
    *out = data_[offset];
    return true;
  }
  bool U16(uint64_t offset, uint16_t* out) const {
    if (!Contains(offset, 2)) return false;
    *out = static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    return true;
  }
  bool U32(uint64_t offset, uint32_t* out) const {
    if (!Contains(offset, 4)) return false;
    *out = LoadU32(data_ + offset);
    return true;
  }
  bool I32(uint64_t offset, int32_t* out) const {
    uint32_t v;
    if (!U32(offset, &v)) return false;
    std::memcpy(out, &v, 4);
    return true;
  }
  bool Bytes(uint64_t offset, void* out, uint64_t length) const {
    if (!Contains(offset, length)) return false;
    if (length) std::memcpy(out, data_ + offset, static_cast<size_t>(length));
    return true;
  }
  bool Equals(uint64_t offset, const void* expected, uint64_t length) const {
    return Contains(offset, length) &&
           std::memcmp(data_ + offset, expected, static_cast<size_t>(length)) == 0;
  }

  static uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
  static void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
};
