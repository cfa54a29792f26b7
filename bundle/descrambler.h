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
  // Table mode over whole groups of 8 bytes (`n` is a multiple of 8).
  void MapGroups(uint8_t* data, size_t n);
  void SkipGroups(const uint8_t* data, size_t n);
  // The byte-at-a-time table-mode walk, for what is left after the groups;
  // kMap: also writes the mapped bytes to `out` (which may be `in`).
  template <bool kMap>
  void Run(const uint8_t* in, uint8_t* out, size_t n);
  // A restored state may be foreign: a position outside its table restarts it.
  uint32_t Position(int t) const {
    return state_.pos[t] < table_length_[t] ? state_.pos[t] : 0;
  }

  bool table_mode_ = false;
  // Table mode: each table with bit 0 of its bytes cleared (the map keeps bit
  // 0), followed by its own repetition so that the group walk can run a
  // block ahead of the wrap. Offset mode: the key, repeated so that a word can be read
  // from any key offset.
  std::vector<uint8_t> key_;
  size_t table_start_[4] = {0, 0, 0, 0};
  uint32_t table_length_[4] = {0, 0, 0, 0};
  size_t table_rewind_[4] = {0, 0, 0, 0};  // whole turns of a table, >= a block
  size_t period_ = 0;  // offset mode: the key's length
  DescramblerState state_;
};
