#include "bundle/descrambler.h"

namespace {
// Keys up to this length are used in offset mode.
constexpr size_t kOffsetModeMaxKey = 11;
}  // namespace

void Descrambler::SetKey(const uint8_t* key, size_t length) {
  key_.assign(key, key + length);
  table_mode_ = length > kOffsetModeMaxKey;
  if (table_mode_) {
    // The key is cut in quarters and used in the order 2, 1, 3 (with the
    // remainder), 0.
    const size_t a = length / 4;
    table_start_[0] = 2 * a;
    table_start_[1] = a;
    table_start_[2] = 3 * a;
    table_start_[3] = 0;
    table_length_[0] = static_cast<uint32_t>(a);
    table_length_[1] = static_cast<uint32_t>(a);
    table_length_[2] = static_cast<uint32_t>(length - 3 * a);
    table_length_[3] = static_cast<uint32_t>(a);
  }
  Reset();
}

void Descrambler::Apply(uint8_t* data, size_t n, uint64_t file_offset) {
  if (!table_mode_) {
    if (key_.empty()) return;
    const size_t len = key_.size();
    size_t k = static_cast<size_t>(file_offset % len);
    for (size_t j = 0; j < n; ++j) {
      data[j] ^= key_[k];
      if (++k == len) k = 0;
    }
    return;
  }
  NormalizeState();
  const uint8_t* table[4] = {Table(0), Table(1), Table(2), Table(3)};
  uint32_t i = state_.index;
  for (size_t j = 0; j < n; ++j) {
    i = ((data[j] & 1u) + i) & 3u;
    uint32_t& pos = state_.pos[i];
    data[j] ^= static_cast<uint8_t>(table[i][pos] & 0xFE);
    if (++pos == table_length_[i]) pos = 0;
  }
  state_.index = i;
}

void Descrambler::NormalizeState() {
  // A restored state may be foreign: positions past a table start it over.
  // Once inside, the loops keep every position inside its table.
  for (int t = 0; t < 4; ++t)
    if (state_.pos[t] >= table_length_[t]) state_.pos[t] = 0;
  state_.index &= 3u;
}

void Descrambler::Skip(const uint8_t* data, size_t n) {
  if (!table_mode_) return;
  NormalizeState();
  uint32_t i = state_.index;
  for (size_t j = 0; j < n; ++j) {
    i = ((data[j] & 1u) + i) & 3u;
    uint32_t& pos = state_.pos[i];
    if (++pos == table_length_[i]) pos = 0;
  }
  state_.index = i;
}
