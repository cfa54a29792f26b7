// BundleFile: descrambler, round trips through the packer's writer, lookups,
// line reading, handle limits and failure paths. Also defines the bundle
// fixtures that the validation and certificate tests share.
#include <gtest/gtest.h>

#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>

#include <cstring>
#include <tuple>

#include "bundle/bundle_file.h"
#include "bundle/chunk_prefetch.h"
#include "bundle/descrambler.h"
#include "integrity/builtin_keys.h"
#include "test_keys.h"
#include "test_support.h"
#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "tools/packlib/key_cert_writer.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace bundle_test {

const CryptoPP::RSA::PrivateKey& RootKey() {
  static const CryptoPP::RSA::PrivateKey key = [] {
    CryptoPP::RSA::PrivateKey k;
    DecodePrivateKey(Bytes(kTestRootPrivateKeyDer, kTestRootPrivateKeyDer + kTestRootPrivateKeyDerSize), &k);
    return k;
  }();
  return key;
}

// Made once per run: 1024 bits keep the tests fast.
const CryptoPP::RSA::PrivateKey& SigningKey() {
  static const CryptoPP::RSA::PrivateKey key = [] {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::RSA::PrivateKey k;
    k.Initialize(rng, 1024);
    return k;
  }();
  return key;
}

Bytes SigningKeyDer() { return EncodePublicKey(CryptoPP::RSA::PublicKey(SigningKey())); }

Bytes Certificate(const std::string& goal) {
  return MakeKeyCertificate(FileKeySigner(RootKey()), goal, 2000000000, SigningKeyDer());
}

Bytes KeyTable() {
  const TrustedKeys& keys = ActiveTrustedKeys();
  return Bytes(keys.table, keys.table + keys.table_size);
}

// Deterministic bytes that compress a little; they repeat after 4093 bytes so
// that large records still compress fast.
Bytes Pattern(size_t n, uint32_t seed) {
  constexpr size_t kPeriod = 4093;
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    if (i >= kPeriod) {
      b[i] = b[i - kPeriod];
      continue;
    }
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>((seed >> 16) & 0x3F);
  }
  return b;
}

struct Record {
  std::string name;
  Bytes content;
};

// A writer into memory with the built-in table and the test signing key.
struct MemoryWriter {
  Bytes out;
  InnerBundleWriter writer{[this](const uint8_t* p, size_t n) {
                             out.insert(out.end(), p, p + n);
                             return true;
                           },
                           KeyTable(), SigningKey()};
};

Bytes BuildBundle(const std::vector<Record>& records, uint32_t chunk_size = 1u << 20) {
  MemoryWriter w;
  w.writer.WriteHeader(static_cast<uint32_t>(records.size()));
  for (const Record& r : records)
    w.writer.WriteRecord(r.name, r.content.data(), r.content.size(), chunk_size);
  w.writer.WriteEndMarker();
  w.writer.WriteSignedTail(Certificate("IBND"));
  return w.out;
}

// Writes `bundle` to a file of `dir` and opens it as the installer does.
bool OpenAsInstaller(BundleFile* file, const TempDir& dir, const Bytes& bundle,
                     bool skip_validation = false) {
  const std::wstring path = dir.File(L"ibnd");
  if (!WriteWholeFile(path, bundle)) return false;
  file->SetExpectedGoal("IBND");
  file->SetMaxChunkSize(0x1900000);
  return file->Open(path, skip_validation);
}

Bytes ReadAll(BundleFile* file, RecordHandle* h) {
  Bytes content(static_cast<size_t>(h->size()));
  if (!content.empty()) {
    EXPECT_EQ(content.size(), file->ReadRecord(h, content.data(), 1, content.size()));
  }
  return content;
}

}  // namespace bundle_test

using namespace bundle_test;

namespace {

TEST(DescramblerTest, TableModeKnownAnswerAndInverse) {
  // 16-byte key: tables are key[8..12), key[4..8), key[12..16), key[0..4).
  Bytes key(16);
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i);
  const Bytes plain = {0x00, 0x01, 0x03, 0x02, 0xFF, 0x11, 0x00, 0x00, 0x00};
  const Bytes expected = {0x08, 0x05, 0x0F, 0x0E, 0xFF, 0x19, 0x0A, 0x0A, 0x08};
  Descrambler d;
  d.SetKey(key.data(), key.size());
  Bytes data = plain;
  d.Apply(data.data(), data.size(), 0);
  EXPECT_EQ(expected, data);

  Descrambler reader, skipper;
  reader.SetKey(key.data(), key.size());
  skipper.SetKey(key.data(), key.size());
  skipper.Skip(data.data(), data.size());
  reader.Apply(data.data(), data.size(), 0);
  EXPECT_EQ(plain, data);
  EXPECT_EQ(0, std::memcmp(&reader.state(), &skipper.state(), sizeof(DescramblerState)));
}

TEST(DescramblerTest, OffsetModeKeysOnFileOffset) {
  const Bytes key = {'k', 'e', 'y'};
  Descrambler d;
  d.SetKey(key.data(), key.size());
  Bytes data = {0, 0, 0, 0};
  d.Apply(data.data(), data.size(), 4);
  EXPECT_EQ((Bytes{'e', 'y', 'k', 'e'}), data);
}

struct RoundTripCase {
  const char* label;
  size_t size;
  uint32_t chunk_size;
};

class BundleRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(BundleRoundTripTest, ReadsAndExtractsWhatWasWritten) {
  const Bytes content = Pattern(GetParam().size, 7);
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle({{"install_script", Bytes{'x'}}, {"data", content}},
                                                      GetParam().chunk_size)));
  ASSERT_EQ(2u, file.records().size());
  EXPECT_EQ(content.size(), file.records()[1].plain_size);
  RecordHandle* h = file.FindRecord("data");
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(content, ReadAll(&file, h));
  file.CloseRecord(h);
  const std::wstring out = dir.File(L"out");
  ASSERT_TRUE(file.ExtractRecord(out, "data"));
  Bytes extracted;
  ASSERT_TRUE(ReadWholeFile(out, &extracted));
  EXPECT_EQ(content, extracted);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BundleRoundTripTest,
    ::testing::Values(RoundTripCase{"Empty", 0, 1024}, RoundTripCase{"OneByte", 1, 1024},
                      RoundTripCase{"ExactlyOneChunk", 4096, 4096},
                      RoundTripCase{"OneByteOverAChunk", 4097, 4096},
                      RoundTripCase{"ManyChunksPastTheCache", 25 * 1000 + 3, 1000},
                      RoundTripCase{"LargestChunk", 0x1900000, 0x1900000}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.label); });

TEST(BundleFileTest, HoldsAndExtractsTheMostRecords) {
  std::vector<Record> records;
  for (int i = 0; i < 256; ++i) records.push_back({"r" + std::to_string(i), Pattern(i, i)});
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle(records, 64)));
  ASSERT_EQ(256u, file.records().size());
  ASSERT_TRUE(file.ExtractRecord(dir.File(L"last"), "r255"));
  Bytes extracted;
  ASSERT_TRUE(ReadWholeFile(dir.File(L"last"), &extracted));
  EXPECT_EQ(records[255].content, extracted);
}

// Planned records come from the read-ahead; a record out of the plan's order
// ends it, and everything after is read directly, with the same results.
TEST(BundleFileTest, PlannedExtractionMatchesDirectReadsInAnyOrder) {
  std::vector<Record> records;
  for (int i = 0; i < 6; ++i) records.push_back({"r" + std::to_string(i), Pattern(3000 * i + 1, i)});
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle(records, 1000)));
  file.PlanExtraction({"r1", "r3", "r3", "r2", "missing", "r4"});
  int n = 0;
  for (int r : {1, 3, 3, 5, 2, 0}) {
    const std::wstring out = dir.File(L"out" + std::to_wstring(n++));
    ASSERT_TRUE(file.ExtractRecord(out, "r" + std::to_string(r)));
    Bytes extracted;
    ASSERT_TRUE(ReadWholeFile(out, &extracted));
    EXPECT_EQ(records[r].content, extracted) << r;
  }
}

// Every lane count hands out the chunks in order, whichever thread inflated
// them, and one that cannot be read ends the series there. A ring smaller
// than two chunks (each then waits for the one before to be let go), one that
// wraps between chunks, and the default one.
TEST(ChunkPrefetchTest, AnyNumberOfLanesDeliversTheChunksInOrder) {
  std::vector<Record> records;
  for (int i = 0; i < 5; ++i) records.push_back({"r" + std::to_string(i), Pattern(7000 * i + 3, i)});
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle(records, 900)));
  Descrambler descrambler;
  descrambler.SetKey(KeyTable().data(), KeyTable().size());
  for (const bool broken : {false, true}) {
    std::vector<ChunkEntry> chunks;
    Bytes expected;
    for (size_t r = 0; r < records.size(); ++r) {
      chunks.insert(chunks.end(), file.records()[r].chunks.begin(), file.records()[r].chunks.end());
      expected.insert(expected.end(), records[r].content.begin(), records[r].content.end());
    }
    const size_t breakAt = chunks.size() - 5;
    if (broken) chunks[breakAt].offset += 1;
    for (size_t lanes = 1; lanes <= ChunkPrefetch::kMaxLanes; ++lanes)
    for (size_t ring : {size_t{1}, size_t{2500}, ChunkPrefetch::kRingBytes}) {
      ChunkPrefetch prefetch(dir.File(L"ibnd"), descrambler, chunks, lanes, ring);
      ASSERT_TRUE(prefetch.ok());
      Bytes got;
      size_t n = 0;
      for (; n < chunks.size(); ++n) {
        const uint8_t* plain = prefetch.Next();
        if (!plain) break;
        got.insert(got.end(), plain, plain + chunks[n].plain_length);
      }
      EXPECT_EQ(n, broken ? breakAt : chunks.size()) << lanes << " " << ring;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << lanes << " " << ring;
      EXPECT_EQ(prefetch.Next(), nullptr) << lanes << " " << ring;
    }
  }
}

TEST(BundleFileTest, UnvalidatedScanFindsRecordsWithAnOffsetModeKey) {
  const Bytes key = {'k', '3', 'y'};
  Bytes bundle;
  InnerBundleWriter w([&](const uint8_t* p, size_t n) { bundle.insert(bundle.end(), p, p + n); return true; },
                      key, SigningKey());
  const Bytes content = Pattern(5000, 3);
  w.WriteHeader(2);
  w.WriteRecord("a", content.data(), 10, 4);
  w.WriteRecord("b", content.data(), content.size(), 1000);
  w.WriteEndMarker();
  w.WriteSignedTail(Certificate("IBND"));
  TempDir dir;
  BundleFile file;
  file.SetKey(key.data(), key.size());
  ASSERT_TRUE(OpenAsInstaller(&file, dir, bundle, /*skip_validation=*/true));
  EXPECT_TRUE(file.records().empty());
  RecordHandle* h = file.FindRecord("b");
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(content, ReadAll(&file, h));
}

std::vector<std::string> ReadLines(const Bytes& content, uint32_t chunk_size, size_t capacity,
                                   int max_lines = 10) {
  TempDir dir;
  BundleFile file;
  EXPECT_TRUE(OpenAsInstaller(&file, dir, BuildBundle({{"s", content}}, chunk_size)));
  RecordHandle* h = file.FindRecord("s");
  std::vector<std::string> lines;
  std::vector<char> buffer(capacity + 1, '#');
  while (max_lines-- > 0) {
    if (!file.ReadLine(buffer.data(), capacity, h)) {
      lines.push_back("<none>");
      break;
    }
    lines.push_back(buffer.data());
  }
  return lines;
}

TEST(BundleFileTest, ReadLineDropsCarriageReturnsAndEndsWithNothing) {
  EXPECT_EQ((std::vector<std::string>{"a\n", "b", "<none>"}), ReadLines({'a', '\r', '\n', 'b'}, 1024, 2048));
}

TEST(BundleFileTest, ReadLineOfCapacityOneConsumesNothing) {
  EXPECT_EQ((std::vector<std::string>{"", "", ""}), ReadLines({'a', '\n'}, 1024, 1, 3));
}

TEST(BundleFileTest, ReadLineAtTheEndAnswersNothingWhateverTheCapacity) {
  EXPECT_EQ((std::vector<std::string>{"<none>"}), ReadLines({}, 1024, 2048));
  EXPECT_EQ((std::vector<std::string>{"<none>"}), ReadLines({}, 1024, 1));
  EXPECT_EQ((std::vector<std::string>{"a", "\n", "<none>"}), ReadLines({'a', '\n'}, 1024, 2));
}

TEST(BundleFileTest, ReadLineAcrossChunkBoundariesReturnsWholeLines) {
  // Chunks "ab\nc", "defg", "h\n": the second line starts in a cached chunk
  // and runs on into two more.
  const std::string text = "ab\ncdefgh\n";
  EXPECT_EQ((std::vector<std::string>{"ab\n", "cdefgh\n", "<none>"}),
            ReadLines(Bytes(text.begin(), text.end()), 4, 2048));
}

TEST(BundleFileTest, ReadLineSplitsLongLinesAtCapacity) {
  const std::string text = "abcdefg\nhi";
  EXPECT_EQ((std::vector<std::string>{"abc", "def", "g\n", "hi", "<none>"}),
            ReadLines(Bytes(text.begin(), text.end()), 1024, 4));
}

class CloseRecordTest : public ::testing::TestWithParam<bool> {};

TEST_P(CloseRecordTest, RestoresAnOngoingWalk) {
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir,
                              BuildBundle({{"a", Pattern(300, 1)}, {"b", Pattern(10, 2)}, {"c", Pattern(700, 3)}}, 128),
                              /*skip_validation=*/GetParam()));
  std::string name;
  ASSERT_TRUE(file.ReadNextName(&name));
  EXPECT_EQ("a", name);
  RecordHandle* h = file.FindRecord("c");
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(Pattern(700, 3), ReadAll(&file, h));
  file.CloseRecord(h);
  ASSERT_TRUE(file.SkipRecord());
  ASSERT_TRUE(file.ReadNextName(&name));
  EXPECT_EQ("b", name);
}

INSTANTIATE_TEST_SUITE_P(IndexedAndScanned, CloseRecordTest, ::testing::Values(false, true));

TEST(BundleFileTest, AbsentRecordLeavesTheBundleRewound) {
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle({{"a", {1}}, {"b", {2}}}), true));
  std::string name;
  ASSERT_TRUE(file.ReadNextName(&name));
  EXPECT_EQ(nullptr, file.FindRecord("B"));
  ASSERT_TRUE(file.ReadNextName(&name));
  EXPECT_EQ("a", name);
}

TEST(BundleFileTest, RefusesA33rdOpenHandle) {
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle({{"a", {1, 2, 3}}})));
  std::vector<RecordHandle*> handles;
  for (int i = 0; i < 32; ++i) handles.push_back(file.FindRecord("a"));
  for (RecordHandle* h : handles) ASSERT_NE(nullptr, h);
  EXPECT_EQ(nullptr, file.FindRecord("a"));
  file.CloseRecord(handles[5]);
  RecordHandle* again = file.FindRecord("a");
  ASSERT_NE(nullptr, again);
  EXPECT_EQ((Bytes{1, 2, 3}), ReadAll(&file, again));
  EXPECT_TRUE(file.Close());
}

// A chunk whose stream inflates to fewer or more bytes than recorded.
class ChunkLengthMismatchTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ChunkLengthMismatchTest, FailsReadAndExtract) {
  const Bytes plain = Pattern(10, 9);
  Bytes stored;
  ASSERT_TRUE(CompressChunk(plain.data(), plain.size(), &stored));
  MemoryWriter w;
  w.writer.WriteHeader(1);
  w.writer.BeginRecord("r", 1);
  w.writer.WriteRawChunk(GetParam(), stored);
  w.writer.WriteEndMarker();
  w.writer.WriteSignedTail(Certificate("IBND"));
  TempDir dir;
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, w.out));
  RecordHandle* h = file.FindRecord("r");
  ASSERT_NE(nullptr, h);
  TraceCapture trace;
  uint8_t buffer[16];
  EXPECT_EQ(0u, file.ReadRecord(h, buffer, 1, 1));
  EXPECT_EQ((std::vector<std::string>{"?!!!"}), trace.lines());
  const std::wstring out = dir.File(L"out");
  EXPECT_FALSE(file.ExtractRecord(out, "r"));
  EXPECT_FALSE(FileExists(out));
  file.PlanExtraction({"r"});  // the same through the read-ahead
  EXPECT_FALSE(file.ExtractRecord(out, "r"));
  EXPECT_FALSE(FileExists(out));
}

INSTANTIATE_TEST_SUITE_P(ShortAndLong, ChunkLengthMismatchTest, ::testing::Values(11u, 9u));

TEST(BundleFileTest, OpenRefusesBadFilesAndTracesOnlyAMissingOne) {
  TempDir dir;
  const Bytes good = BuildBundle({{"a", {1}}});
  Bytes bad_magic = good, bad_version = good;
  bad_magic[9] = 0x0A;
  bad_version[12] = 2;
  const Bytes short_header(good.begin(), good.begin() + 24);
  for (const Bytes* bytes : std::initializer_list<const Bytes*>{&bad_magic, &bad_version, &short_header}) {
    TraceCapture trace;
    BundleFile file;
    EXPECT_FALSE(OpenAsInstaller(&file, dir, *bytes, true));
    EXPECT_TRUE(trace.lines().empty());
    EXPECT_FALSE(file.is_open());
  }
  TraceCapture trace;
  BundleFile file;
  const std::wstring missing = dir.File(L"missing");
  EXPECT_FALSE(file.Open(missing, true));
  ASSERT_EQ(1u, trace.lines().size());
  EXPECT_EQ("Couldn't open file " + WideToMultiByte(missing) + "!\n", trace.lines()[0]);
}

TEST(BundleFileTest, ClosedBundleAnswersNothing) {
  BundleFile file;
  std::string name;
  char line[8];
  EXPECT_FALSE(file.Close());
  EXPECT_FALSE(file.Rewind());
  EXPECT_FALSE(file.ReadNextName(&name));
  EXPECT_EQ(nullptr, file.FindRecord("a"));
  EXPECT_EQ(nullptr, file.ReadLine(line, sizeof line, nullptr));
  EXPECT_FALSE(file.ExtractRecord(L"never", "a"));
}

TEST(BundleFileTest, OpenBundleCannotBeRewrittenOrDeleted) {
  TempDir dir;
  {
    // Only platforms with sharing modes can keep writers out.
    const std::wstring probe = dir.File(L"probe");
    ASSERT_TRUE(WriteWholeFile(probe, {1}));
    File reader, writer;
    ASSERT_TRUE(reader.Open(probe, FileAccess::kReadDenyWrite));
    if (writer.Open(probe, FileAccess::kCreate)) GTEST_SKIP() << "no sharing modes here";
  }
  BundleFile file;
  ASSERT_TRUE(OpenAsInstaller(&file, dir, BuildBundle({{"a", {1}}})));
  File writer;
  EXPECT_FALSE(writer.Open(file.path(), FileAccess::kCreate));
  EXPECT_FALSE(RemoveFile(file.path()));
  file.Close();
  EXPECT_TRUE(RemoveFile(file.path()));
}

// The chunk list is read in 4 KiB blocks. This one puts runs of empty chunks,
// small content chunks and 10,000 stored bytes at each alignment to a block;
// indexing, digesting, scanning and the read limit must take it as it is.
class ChunkListBlockTest : public ::testing::TestWithParam<Bytes> {};

TEST_P(ChunkListBlockTest, EveryAlignmentReadsAsWritten) {
  const Bytes& key = GetParam();
  Bytes big(10000), content;
  uint32_t x = 1;
  for (uint8_t& b : big) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  // Each content chunk after a run of empty ones; the last run has no content after it.
  const std::vector<std::pair<uint32_t, Bytes>> pieces = {{700, {'a', 'b'}}, {300, big}, {0, {'c'}}, {2, {}}};
  for (const auto& piece : pieces) content.insert(content.end(), piece.second.begin(), piece.second.end());
  TempDir dir;
  const std::wstring path = dir.File(L"ibnd");
  for (size_t shift = 0; shift < 8; ++shift) {
    const std::string name = "a" + std::string(shift, 'x');
    // extra: chunks claimed but missing, so that the list runs into the signature block.
    auto write = [&](const std::string& goal, uint32_t extra) {
      Bytes bytes;
      InnerBundleWriter w([&](const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); return true; },
                          key, SigningKey());
      w.WriteHeader(2);
      w.BeginRecord(name, 1005 + extra);
      for (const auto& [empties, plain] : pieces) {
        for (uint32_t i = 0; i < empties; ++i) w.WriteRawChunk(0, {});
        Bytes stored;
        if (plain.empty() || !CompressChunk(plain.data(), plain.size(), &stored)) continue;
        w.WriteRawChunk(static_cast<uint32_t>(plain.size()), stored);
      }
      if (!extra) w.WriteRecord("b", big.data(), 5000, 3000);
      if (!extra) w.WriteEndMarker();
      w.WriteSignedTail(Certificate(goal));
      EXPECT_TRUE(WriteWholeFile(path, bytes));
    };
    auto open = [&](BundleFile* file, bool skip_validation) {
      file->SetKey(key.data(), key.size());
      file->SetExpectedGoal("IBND");
      return file->Open(path, skip_validation);
    };
    {
      write("IBND", 0);
      BundleFile file;  // extraction seeks to each indexed chunk and restores its state
      ASSERT_TRUE(open(&file, false)) << shift;
      EXPECT_EQ(3u, file.records()[0].chunks.size());
      Bytes extracted;
      ASSERT_TRUE(file.ExtractRecord(dir.File(L"out"), name));
      ASSERT_TRUE(ReadWholeFile(dir.File(L"out"), &extracted));
      EXPECT_EQ(content, extracted);
      BundleFile scanned;
      ASSERT_TRUE(open(&scanned, true));
      EXPECT_EQ(content, ReadAll(&scanned, scanned.FindRecord(name)));
      EXPECT_EQ(Bytes(big.begin(), big.begin() + 5000), ReadAll(&scanned, scanned.FindRecord("b")));
    }
    for (const auto& [goal, extra, trace_line] : {std::make_tuple("AVSG", 0, "Digital signature is invalid!"),
                                                   std::make_tuple("IBND", 2, "Reading file for checksum failed!\n")}) {
      write(goal, extra);
      TraceCapture trace;
      BundleFile file;
      EXPECT_FALSE(open(&file, false));
      ASSERT_GE(trace.lines().size(), 2u);
      // Unsigned, the digest matched: no byte-by-byte listing follows the verdict.
      EXPECT_EQ(trace_line, trace.lines()[trace.lines().size() - 2]) << shift;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KeyModes, ChunkListBlockTest, ::testing::Values(KeyTable(), Bytes{'k', '3', 'y'}),
                         [](const ::testing::TestParamInfo<Bytes>& info) {
                           return std::string(info.param.size() > 11 ? "Table" : "Offset");
                         });

}  // namespace
