#include "bundle/descrambler.h"

#include <algorithm>
#include <cstring>

namespace {
// Keys up to this length are used in offset mode.
constexpr size_t kOffsetModeMaxKey = 11;

// Table mode walks the data in groups of 8 bytes. The table index after each
// byte is the start index plus the number of bit-0 ones so far, modulo 4, so
// a group's whole walk follows from the group's eight bit 0s (one byte, m).
constexpr size_t kGroup = 8;
// The group walk brings its positions back into their tables once per block;
// until then they run ahead into each table's repetition.
constexpr size_t kBlock = 256;
// Shorter runs go through the byte loop.
constexpr size_t kSmallRun = 24;
// Offset mode maps a word of this many bytes at a time.
constexpr size_t kWord = 8;

struct GroupTables {
  // Per byte k of group m entered at table i: which table it takes its key
  // byte from (bits 3-4) and how many earlier bytes of the group took theirs
  // from the same table (bits 0-2). That is its offset in a window of four
  // 8-byte runs, one from each table.
  uint8_t slot[4][256][kGroup];
  // How many of the group's bytes each relative table r gives: bits 8r..8r+7.
  uint32_t taken[256];
  // How far the table index moves over the group.
  uint8_t turn[256];
};

void MakeGroupTables(GroupTables* tables) {
  GroupTables& g = *tables;
  for (uint32_t m = 0; m < 256; ++m) {
    uint32_t r = 0;
    uint32_t count[4] = {0, 0, 0, 0};
    for (uint32_t k = 0; k < kGroup; ++k) {
      r = (r + ((m >> k) & 1u)) & 3u;
      for (uint32_t i = 0; i < 4; ++i) g.slot[i][m][k] = static_cast<uint8_t>(((r + i) & 3u) << 3 | count[r]);
      ++count[r];
    }
    g.taken[m] = count[0] | count[1] << 8 | count[2] << 16 | count[3] << 24;
    g.turn[m] = static_cast<uint8_t>(r);
  }
}

// Made at first use rather than stored: 9.5 KB less in every installer.
// Filled through a pointer, since the compiler would store a returned value;
// placed in .bss, since mingw's -fdata-sections stores zeroed data too.
const GroupTables& Tables() {
  static GroupTables tables __attribute__((section(".bss")));
  static const bool made = (MakeGroupTables(&tables), true);
  (void)made;
  return tables;
}

// Turns per-table fields from relative to absolute tables: start index i
// (0..3) moves field r to field (r + i) mod 4.
inline uint32_t RotateFields(uint32_t fields, uint32_t i) {
  const uint32_t bits = 8 * i;
  return (fields << bits) | (fields >> ((32 - bits) & 31));
}

// Four bytes in memory order.
inline uint32_t Word(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
inline void PutWord(uint8_t* p, uint32_t w) { std::memcpy(p, &w, sizeof w); }

// The host's byte order; folds to a constant when optimised.
inline bool LittleEndian() {
  const uint32_t one = 1;
  uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Bit 0 of the group's 8 bytes as bits 0-7. The multiply moves bit 0 of the
// word's byte k (in memory order) to bit 24 + k; none of its other partial
// products lands on or carries into bits 24-27.
inline uint32_t GroupBits(const uint8_t* group) {
  constexpr uint32_t kBit0 = 0x01010101u;
  const uint32_t gather = LittleEndian() ? 0x01020408u : 0x08040201u;
  return ((Word(group) & kBit0) * gather) >> 24 | ((Word(group + 4) & kBit0) * gather) >> 20;
}
}  // namespace

void Descrambler::SetKey(const uint8_t* key, size_t length) {
  key_.clear();
  table_mode_ = length > kOffsetModeMaxKey;
  period_ = table_mode_ ? 0 : length;
  if (table_mode_) {
    // The key is cut in quarters and used in the order 2, 1, 3 (with the
    // remainder), 0.
    const size_t a = length / 4;
    const size_t first[4] = {2 * a, a, 3 * a, 0};
    const size_t size[4] = {a, a, length - 3 * a, a};
    for (int t = 0; t < 4; ++t) {
      // The group walk takes its positions back by a whole number of turns
      // of at least a block, so the repetition holds that and a block more.
      const size_t turns = (kBlock + size[t] - 1) / size[t];
      table_start_[t] = key_.size();
      table_length_[t] = static_cast<uint32_t>(size[t]);
      table_rewind_[t] = turns * size[t];
      for (size_t j = 0; j < table_rewind_[t] + kBlock; ++j) {
        key_.push_back(static_cast<uint8_t>(key[first[t] + j % size[t]] & 0xFE));
      }
    }
  } else {
    for (size_t j = 0; length && j < length + kWord; ++j) key_.push_back(key[j % length]);
  }
  Reset();
}

void Descrambler::Apply(uint8_t* data, size_t n, uint64_t file_offset) {
  if (!table_mode_) {
    if (period_ == 0) return;
    const uint8_t* key = key_.data();
    size_t k = static_cast<size_t>(file_offset % period_);
    const size_t step = kWord % period_;
    size_t j = 0;
    for (; n - j >= kWord; j += kWord) {
      PutWord(data + j, Word(data + j) ^ Word(key + k));
      PutWord(data + j + 4, Word(data + j + 4) ^ Word(key + k + 4));
      k += step;
      if (k >= period_) k -= period_;
    }
    for (; j < n; ++j) {
      data[j] ^= key[k];
      if (++k == period_) k = 0;
    }
    return;
  }
  // The record structure is read a few bytes at a time: below a few groups
  // the byte loop costs less than setting up the group walk.
  if (n < kSmallRun) {
    Run<true>(data, data, n);  // n == 0 still brings a restored state into range
    return;
  }
  const size_t groups = n - n % kGroup;
  MapGroups(data, groups);
  Run<true>(data + groups, data + groups, n - groups);  // also wraps the positions
}

void Descrambler::Skip(const uint8_t* data, size_t n) {
  if (!table_mode_) return;
  if (n < kSmallRun) {
    Run<false>(data, nullptr, n);
    return;
  }
  const size_t groups = n - n % kGroup;
  SkipGroups(data, groups);
  Run<false>(data + groups, nullptr, n - groups);
}

void Descrambler::MapGroups(uint8_t* data, size_t n) {
  const GroupTables& tables = Tables();
  // Positions as offsets into key_, where each table is followed by its
  // repetition: within a block they only grow.
  const uint8_t* key = key_.data();
  size_t at[4];
  for (int t = 0; t < 4; ++t) at[t] = table_start_[t] + Position(t);
  uint32_t i = state_.index & 3u;
  for (size_t j = 0; j < n;) {
    const size_t block_end = j + std::min(n - j, kBlock);
    for (; j < block_end; j += kGroup) {
      uint8_t* group = data + j;
      const uint32_t m = GroupBits(group);
      // Every key byte of the group lies in the next 8 bytes of its table.
      uint8_t window[4 * kGroup];
      std::memcpy(window, key + at[0], kGroup);
      std::memcpy(window + kGroup, key + at[1], kGroup);
      std::memcpy(window + 2 * kGroup, key + at[2], kGroup);
      std::memcpy(window + 3 * kGroup, key + at[3], kGroup);
      const uint8_t* slot = tables.slot[i][m];
      // Written out: -Os keeps the loop, and its upkeep costs as much as the work.
      group[0] ^= window[slot[0]];
      group[1] ^= window[slot[1]];
      group[2] ^= window[slot[2]];
      group[3] ^= window[slot[3]];
      group[4] ^= window[slot[4]];
      group[5] ^= window[slot[5]];
      group[6] ^= window[slot[6]];
      group[7] ^= window[slot[7]];
      const uint32_t taken = RotateFields(tables.taken[m], i);
      at[0] += taken & 0xFFu;
      at[1] += (taken >> 8) & 0xFFu;
      at[2] += (taken >> 16) & 0xFFu;
      at[3] += taken >> 24;
      i = (i + tables.turn[m]) & 3u;
    }
    // Each position moved at most a block: one rewind keeps it within reach.
    for (int t = 0; t < 4; ++t) {
      if (at[t] - table_start_[t] >= table_rewind_[t]) at[t] -= table_rewind_[t];
    }
  }
  for (int t = 0; t < 4; ++t) {
    // Mostly already inside the table; a division costs more than a short run.
    const size_t pos = at[t] - table_start_[t];
    state_.pos[t] = static_cast<uint32_t>(pos < table_length_[t] ? pos : pos % table_length_[t]);
  }
  state_.index = i;
}

void Descrambler::SkipGroups(const uint8_t* data, size_t n) {
  const GroupTables& tables = Tables();
  // Only the number of bytes each table gives matters: counted per group in
  // 8-bit fields (31 groups fit), then added up.
  constexpr size_t kGroupsPerCount = 255 / kGroup;
  size_t taken[4] = {0, 0, 0, 0};
  uint32_t i = state_.index & 3u;
  for (size_t j = 0; j < n;) {
    const size_t end = j + std::min(n - j, kGroupsPerCount * kGroup);
    uint32_t fields = 0;
    for (; j < end; j += kGroup) {
      const uint32_t m = GroupBits(data + j);
      fields += RotateFields(tables.taken[m], i);
      i = (i + tables.turn[m]) & 3u;
    }
    for (int t = 0; t < 4; ++t) taken[t] += (fields >> (8 * t)) & 0xFFu;
  }
  for (int t = 0; t < 4; ++t) {
    const uint32_t length = table_length_[t];
    const uint32_t advance =
        static_cast<uint32_t>(taken[t] < length ? taken[t] : taken[t] % length);
    const uint32_t pos = Position(t);
    state_.pos[t] = pos < length - advance ? pos + advance : pos - (length - advance);
  }
  state_.index = i;
}

template <bool kMap>
void Descrambler::Run(const uint8_t* in, uint8_t* out, size_t n) {
  // The state lives in locals for the loop: written bytes could alias the
  // members, which would make the compiler reload them for every byte.
  const uint8_t* table[4];
  uint32_t length[4], pos[4];
  for (int t = 0; t < 4; ++t) {
    table[t] = key_.data() + table_start_[t];
    length[t] = table_length_[t];
    pos[t] = Position(t);
  }
  uint32_t i = state_.index & 3u;
  for (size_t j = 0; j < n; ++j) {
    const uint8_t stored = in[j];
    i = ((stored & 1u) + i) & 3u;
    if (kMap) out[j] = static_cast<uint8_t>(stored ^ table[i][pos[i]]);
    if (++pos[i] == length[i]) pos[i] = 0;
  }
  for (int t = 0; t < 4; ++t) state_.pos[t] = pos[t];
  state_.index = i;
}
