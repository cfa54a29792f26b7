// Writes a signed inner bundle file from named inputs (files or in-memory
// text), streaming each file a chunk at a time, with the descrambler table,
// signing key and key certificate of a key set folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct RecordSource {
  std::string name;
  std::wstring path;  // read from this file unless `use_inline`
  bool use_inline = false;
  std::string inline_data;

  static RecordSource FromFile(std::string name, std::wstring path) {
    return {std::move(name), std::move(path), false, {}};
  }
  static RecordSource FromText(std::string name, std::string text) {
    return {std::move(name), {}, true, std::move(text)};
  }
};

// The stub refuses chunks whose plain size exceeds this and bundles of more
// records than its index holds.
constexpr uint64_t kMaxInnerChunkSize = 0x1900000;
constexpr size_t kMaxInnerRecords = 256;

// Checks names (1 to 255 bytes, no NUL, unique) and the record count.
bool CheckRecordNames(const std::vector<RecordSource>& records, std::string* error);

// Writes the bundle to `out`. `on_bytes` (may be empty) is called with the
// input bytes consumed so far. On failure `out` is removed and `error` says why.
bool WriteInnerBundleFile(const std::wstring& out, const std::wstring& keys_dir,
                          const std::vector<RecordSource>& records, uint32_t chunk_size,
                          const std::function<void(uint64_t)>& on_bytes, std::string* error);
