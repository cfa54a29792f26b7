// The inner bundle reader: open with validation (header, signature block, key
// certificate, record walk) and without it, then everything the installation
// sequence and the packer do with an open bundle: walk the names, find
// records, read them as bytes and as lines (every capacity class), extract
// them, and close handles in any order.
#include <cstdint>
#include <string>
#include <vector>

#include "bundle/bundle_file.h"
#include "fuzz/fuzz_support.h"
#include "util/platform.h"

namespace {

// Bounds the work per input; a bundle may claim far more than it holds.
constexpr int kMaxNames = 64;
constexpr int kMaxLines = 4096;

void ReadLines(BundleFile* bundle, RecordHandle* h, size_t capacity) {
  std::vector<char> line(capacity);
  uint64_t last = h->position();
  for (int i = 0; i < kMaxLines; ++i) {
    if (!bundle->ReadLine(line.data(), capacity, h)) return;
    FUZZ_CHECK(std::string(line.data()).size() < capacity);
    // Capacity 1 stores nothing and consumes nothing; any other advances.
    FUZZ_CHECK(capacity == 1 ? h->position() == last : h->position() > last);
    if (capacity == 1) return;
    last = h->position();
  }
}

void Exercise(BundleFile* bundle) {
  std::vector<std::string> names;
  std::string name;
  bundle->Rewind();
  while (names.size() < kMaxNames && bundle->ReadNextName(&name)) {
    names.push_back(name);
    if (!bundle->SkipRecord()) break;
  }
  for (const RecordIndexEntry& entry : bundle->records()) names.push_back(entry.name);
  names.push_back("install_script");
  names.push_back("absent");

  const std::wstring out = ScratchOutputPath();
  size_t turn = 0;
  for (const std::string& n : names) {
    RecordHandle* h = bundle->FindRecord(n);
    if (!h) continue;
    ReadLines(bundle, h, (turn % 3 == 0) ? 2048 : (turn % 3 == 1) ? 1 : 3);
    uint8_t bytes[300];
    while (bundle->ReadRecord(h, bytes, 1 + turn % 7, sizeof bytes / 7) > 0) {
    }
    FUZZ_CHECK(h->position() <= h->size());
    bundle->CloseRecord(h);
    if (!bundle->ExtractRecord(out, n)) FUZZ_CHECK(!File().Open(out, FileAccess::kRead));
    RemoveFile(out);
    ++turn;
  }
  // More open handles than the table holds are refused, never written past it.
  std::vector<RecordHandle*> open;
  for (int i = 0; i < 40 && !names.empty(); ++i) {
    RecordHandle* h = bundle->FindRecord(names[0]);
    if (h) open.push_back(h);
  }
  FUZZ_CHECK(open.size() <= BundleFile::kMaxOpenHandles);
  if (!open.empty()) bundle->CloseRecord(open[open.size() / 2]);
  bundle->Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = WriteInputFile(data, size);
  BundleFile bundle;
  bundle.SetExpectedGoal("IBND");
  if (bundle.Open(path, false)) {
    FUZZ_CHECK(bundle.records().size() <= BundleFile::kMaxIndexedRecords);
    Exercise(&bundle);
  }
  if (bundle.Open(path, true)) Exercise(&bundle);
  return 0;
}
