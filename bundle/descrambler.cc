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
  Run<true>(data, data, n);
}

void Descrambler::Skip(const uint8_t* data, size_t n) {
  if (table_mode_) Run<false>(data, nullptr, n);
}

template <bool kMap>
void Descrambler::Run(const uint8_t* in, uint8_t* out, size_t n) {
  // The state lives in locals for the loop: written bytes could alias the
  // members, which would make the compiler reload them for every byte.
  const uint8_t* table[4];
  uint32_t length[4], pos[4];
  for (int t = 0; t < 4; ++t) {
    table[t] = Table(static_cast<uint32_t>(t));
    length[t] = table_length_[t];
    pos[t] = state_.pos[t] < length[t] ? state_.pos[t] : 0;  // a restored state may be foreign
  }
  uint32_t i = state_.index & 3u;
  for (size_t j = 0; j < n; ++j) {
    const uint8_t stored = in[j];
    i = ((stored & 1u) + i) & 3u;
    if (kMap) out[j] = static_cast<uint8_t>(stored ^ (table[i][pos[i]] & 0xFE));
    if (++pos[i] == length[i]) pos[i] = 0;
  }
  for (int t = 0; t < 4; ++t) state_.pos[t] = pos[t];
  state_.index = i;
}
