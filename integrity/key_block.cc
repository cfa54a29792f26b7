#include "integrity/key_block.h"

#include <vector>

#include "diagnostics/trace.h"
#include "util/byte_reader.h"

bool ParseKeyBlock(const uint8_t* block, uint64_t size, TrustedKeys* keys) {
  const ByteReader in(block, size);
  uint32_t format = 0, root = 0, exe = 0, table = 0;
  if (!in.U32(16, &format) || !in.U32(20, &root) || !in.U32(24, &exe) || !in.U32(28, &table))
    return false;
  if (format != kKeyBlockFormat || root == 0 || exe == 0 || table == 0) return false;
  const uint64_t total = uint64_t{root} + exe + table;
  if (!in.Contains(kKeyBlockHeaderSize, total)) return false;
  keys->root = block + kKeyBlockHeaderSize;
  keys->root_size = root;
  keys->exe_signing = keys->root + root;
  keys->exe_signing_size = exe;
  keys->table = keys->exe_signing + exe;
  keys->table_size = table;
  return true;
}

namespace {

const TrustedKeys* chosen = nullptr;

}  // namespace

const TrustedKeys& ActiveTrustedKeys() {
  static const TrustedKeys image = [] {
    TrustedKeys keys;
    if (!ParseKeyBlock(kImageKeyBlock, kKeyBlockSize, &keys)) {
      DebugTrace("%s", "[KEYS] the key block does not parse; nothing will verify\n");
      keys = TrustedKeys();
    }
    return keys;
  }();
  return chosen ? *chosen : image;
}

bool UseKeyBlock(const uint8_t* block, size_t size) {
  static std::vector<uint8_t> copy;
  static TrustedKeys keys;
  std::vector<uint8_t> bytes(block, block + size);
  TrustedKeys parsed;
  if (!ParseKeyBlock(bytes.data(), bytes.size(), &parsed)) return false;
  copy.swap(bytes);  // the vector's buffer moves with it: `parsed` stays valid
  keys = parsed;
  chosen = &keys;
  return true;
}
