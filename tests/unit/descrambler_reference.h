// The byte-at-a-time form of the keyed byte map, as plain as it can be
// written: the unit test checks Descrambler's fast paths against it and the
// benchmark measures them against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bundle/descrambler.h"

class ReferenceDescrambler {
 public:
  ReferenceDescrambler(const uint8_t* key, size_t length) : key_(key, key + length) {
    const size_t a = length / 4;
    const size_t first[4] = {2 * a, a, 3 * a, 0};
    const size_t size[4] = {a, a, length - 3 * a, a};
    for (int t = 0; t < 4; ++t) {
      table_[t] = key_.data() + first[t];
      length_[t] = static_cast<uint32_t>(size[t]);
    }
  }
  DescramblerState state;

  void Apply(uint8_t* data, size_t n, uint64_t file_offset) {
    if (key_.size() > 11) return Walk<true>(data, data, n);
    for (size_t j = 0; j < n && !key_.empty(); ++j) data[j] ^= key_[(file_offset + j) % key_.size()];
  }
  void Skip(const uint8_t* data, size_t n) {
    if (key_.size() > 11) Walk<false>(data, nullptr, n);
  }

 private:
  template <bool kMap>
  void Walk(const uint8_t* in, uint8_t* out, size_t n) {
    // Locals, as a careful byte loop keeps them: the bytes written could
    // alias the members.
    uint32_t pos[4];
    for (int t = 0; t < 4; ++t) pos[t] = state.pos[t] < length_[t] ? state.pos[t] : 0;
    uint32_t i = state.index & 3u;
    const uint8_t* const table[4] = {table_[0], table_[1], table_[2], table_[3]};
    const uint32_t length[4] = {length_[0], length_[1], length_[2], length_[3]};
    for (size_t j = 0; j < n; ++j) {
      i = (i + (in[j] & 1u)) & 3u;
      if (kMap) out[j] = static_cast<uint8_t>(in[j] ^ (table[i][pos[i]] & 0xFE));
      if (++pos[i] == length[i]) pos[i] = 0;
    }
    for (int t = 0; t < 4; ++t) state.pos[t] = pos[t];
    state.index = i;
  }

  std::vector<uint8_t> key_;
  const uint8_t* table_[4];
  uint32_t length_[4];
};
