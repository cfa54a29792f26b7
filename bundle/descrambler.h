// The keyed byte map that inner bundle records pass through. Every stored byte
// from offset 25 on is mapped; the map is its own inverse in both modes, so the
// same object scrambles (writer) and descrambles (reader).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where a table-mode map stands: one position per table and the current table.
// Saved with each chunk so a reader can resume in the middle of a file.
struct DescramblerState {
  uint32_t pos[4] = {0, 0, 0, 0};
  uint32_t index = 0;
};

class Descrambler {
 public:
  // Copies the key. Longer than 11 bytes: table mode; otherwise offset mode
  // (an empty key maps every byte to itself). Resets the state.
  void SetKey(const uint8_t* key, size_t length);
  bool table_mode() const { return table_mode_; }

  void Reset() { state_ = DescramblerState(); }
  const DescramblerState& state() const { return state_; }
  void set_state(const DescramblerState& state) { state_ = state; }

  // Maps `n` bytes in place; `file_offset` is where data[0] lies in the file
  // (offset mode keys on it, table mode ignores it).
  void Apply(uint8_t* data, size_t n, uint64_t file_offset);
  // Advances the state over stored bytes without changing them. Table mode
  // only needs bit 0 of each byte, which the map never changes.
  void Skip(const uint8_t* data, size_t n);

 private:
  const uint8_t* Table(uint32_t i) const { return key_.data() + table_start_[i]; }
  // The table-mode walk over `n` stored bytes; kMap: also writes the mapped
  // bytes to `out` (which may be `in`).
  template <bool kMap>
  void Run(const uint8_t* in, uint8_t* out, size_t n);

  std::vector<uint8_t> key_;
  bool table_mode_ = false;
  size_t table_start_[4] = {0, 0, 0, 0};
  uint32_t table_length_[4] = {0, 0, 0, 0};
  DescramblerState state_;
};
