// Crafted inputs that once cost far more to refuse than their size: a
// signature record of junk characters, a long run of empty attachments, and
// an inner bundle record of a million empty chunks. Each is built here, in
// memory, at the size that was found to hurt; the tests check what the
// readers make of them (timing belongs to the benchmark script, not here).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle/attachment.h"
#include "bundle/attachment_chain.h"
#include "bundle/bundle_file.h"
#include "integrity/file_signature.h"
#include "test_support.h"
#include "tools/packlib/attachment_writer.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "util/platform.h"

namespace bundle_test {
const CryptoPP::RSA::PrivateKey& SigningKey();
Bytes Certificate(const std::string& goal);
Bytes KeyTable();
}  // namespace bundle_test

namespace {

size_t CountLines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// --- The "_SG2" record ---------------------------------------------------------

// Junk characters before an object whose signature is wrong: both attempts
// fail, and the record is still read and parsed only once.
TEST(CraftedInputTest, JunkSignatureRecordIsParsedOnce) {
  constexpr size_t kJunk = 1000000;
  TempDir dir;
  Bytes file(600, 'P');
  AppendAttachment(&file, "_SG2", std::string(kJunk, 'x') + "{\"sign\":\"00ff\"}");
  const std::wstring path = dir.File(L"junk.bin");
  ASSERT_TRUE(WriteWholeFile(path, file));

  testing::internal::CaptureStdout();
  EXPECT_FALSE(VerifyFileSignature(path, false));
  EXPECT_EQ(CountLines(testing::internal::GetCapturedStdout()), kJunk);

  testing::internal::CaptureStdout();
  const FileSignatureReport report = CheckFileSignature(path);
  const std::string output = testing::internal::GetCapturedStdout();
  // Every line whole, also where the messages cross the writer's pieces.
  std::string expected;
  for (size_t i = 0; i < kJunk; ++i) expected += "Invalid character found: 'x'\n";
  EXPECT_TRUE(output == expected);
  EXPECT_TRUE(report.hasRecord);
  EXPECT_EQ(report.signedLength, 600u);
  EXPECT_EQ(report.verdict, FileSignatureReport::Verdict::kInvalid);
}

// --- Attachment chains ------------------------------------------------------------

TEST(CraftedInputTest, LongRunOfEmptyAttachmentsIsWalkedWithOneSmallBuffer) {
  constexpr size_t kEmpty = 100000;
  Bytes file;
  AppendAttachment(&file, "LOAD", std::string(100, 'L'));
  for (size_t i = 0; i < kEmpty; ++i) AppendAttachment(&file, "EMPT", std::string());
  TempDir dir;
  const std::wstring path = dir.File(L"empties.bin");
  ASSERT_TRUE(WriteWholeFile(path, file));

  File container;
  ASSERT_TRUE(container.Open(path, FileAccess::kRead));
  const std::vector<AttachmentInfo> list = ListAttachments(container, container.Size());
  ASSERT_EQ(list.size(), kEmpty + 1);
  std::vector<uint8_t> buffer;
  size_t intact = 0;
  for (const AttachmentInfo& a : list) intact += AttachmentDigestMatches(container, a, &buffer);
  EXPECT_EQ(intact, list.size());
  EXPECT_EQ(buffer.size(), 100u);  // sized by the one attachment with data
  EXPECT_EQ(list.back().type, "LOAD");
  EXPECT_EQ(list.back().dataOffset, 0);

  SetModulePath(path);
  EXPECT_TRUE(FindAttachment("LOAD"));
  SetModulePath(L"");
  EXPECT_EQ(ReadSignedFileAttachment(path, "_SG2", nullptr, 0), "");
  EXPECT_EQ(ReadSignedFileAttachment(path, "LOAD", nullptr, 0), std::string(100, 'L'));
}

// --- Inner bundle records -----------------------------------------------------------

struct Chunk {
  uint32_t plain_length;
  Bytes stored;
  uint32_t repeat;
};

// Header, one record "a" of the given chunks written as they are, the end
// marker, and a tail signed with a certificate for `goal` (a goal other than
// "IBND" makes the bundle unsigned as the installer sees it: the records are
// then walked for the digest alone, which the writer gets right).
Bytes BundleOfChunks(const std::vector<Chunk>& chunks, const std::string& goal) {
  Bytes out;
  InnerBundleWriter w([&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); return true; },
                      bundle_test::KeyTable(), bundle_test::SigningKey());
  uint32_t count = 0;
  for (const Chunk& c : chunks) count += c.repeat;
  w.WriteHeader(1);
  w.BeginRecord("a", count);
  for (const Chunk& c : chunks)
    for (uint32_t i = 0; i < c.repeat; ++i) w.WriteRawChunk(c.plain_length, c.stored);
  w.WriteEndMarker();
  w.WriteSignedTail(bundle_test::Certificate(goal));
  return out;
}

Bytes Compressed(const std::string& text) {
  Bytes stored;
  EXPECT_TRUE(CompressChunk(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &stored));
  return stored;
}

bool Open(BundleFile* bundle, const TempDir& dir, const Bytes& bytes, TraceCapture* trace) {
  const std::wstring path = dir.File(L"ibnd");
  if (!WriteWholeFile(path, bytes)) return false;
  bundle->SetExpectedGoal("IBND");
  bundle->SetMaxChunkSize(0x1900000);
  if (trace) trace->Clear();
  return bundle->Open(path, false);
}

TEST(CraftedInputTest, MillionEmptyChunksCostNoIndexEntries) {
  const std::vector<Chunk> empties = {{0, {}, 1000000}};
  TempDir dir;
  TraceCapture trace;
  {
    // Unsigned: refused for its signature after a complete walk.
    BundleFile bundle;
    EXPECT_FALSE(Open(&bundle, dir, BundleOfChunks(empties, "AVSG"), &trace));
    EXPECT_NE(std::find(trace.lines().begin(), trace.lines().end(), "Iterate done"), trace.lines().end());
    EXPECT_EQ(trace.lines().back(), "Invalid SHA1 encountered!\n");
  }
  // Signed: a writer may store an empty record so; it is accepted and reads
  // as empty, with no index entry for any of its chunks.
  BundleFile bundle;
  ASSERT_TRUE(Open(&bundle, dir, BundleOfChunks(empties, "IBND"), &trace));
  ASSERT_EQ(bundle.records().size(), 1u);
  EXPECT_EQ(bundle.records()[0].plain_size, 0u);
  EXPECT_TRUE(bundle.records()[0].chunks.empty());
  char line[16];
  EXPECT_EQ(bundle.ReadLine(line, sizeof line, bundle.FindRecord("a")), nullptr);
  const std::wstring out = dir.File(L"a.out");
  ASSERT_TRUE(bundle.ExtractRecord(out, "a"));
  Bytes extracted{1};
  ASSERT_TRUE(ReadWholeFile(out, &extracted));
  EXPECT_TRUE(extracted.empty());
}

// Empty chunks between content chunks (one of them an empty zlib stream, one
// with no stored bytes at all) change nothing about the content, read or
// extracted, and only the content chunks are indexed.
TEST(CraftedInputTest, EmptyChunksAmongContentAreSkipped) {
  const std::vector<Chunk> chunks = {{0, {}, 3}, {5, Compressed("ab\ncd"), 1}, {0, Compressed(""), 1},
                                     {0, {}, 1000}, {3, Compressed("e\nf"), 1}, {0, {}, 2}};
  TempDir dir;
  BundleFile bundle;
  ASSERT_TRUE(Open(&bundle, dir, BundleOfChunks(chunks, "IBND"), nullptr));
  EXPECT_EQ(bundle.records()[0].chunks.size(), 2u);
  EXPECT_EQ(bundle.records()[0].plain_size, 8u);

  RecordHandle* h = bundle.FindRecord("a");
  std::vector<std::string> lines;
  char line[64];
  while (bundle.ReadLine(line, sizeof line, h)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"ab\n", "cde\n", "f"}));
  const std::wstring out = dir.File(L"a.out");
  ASSERT_TRUE(bundle.ExtractRecord(out, "a"));
  Bytes extracted;
  ASSERT_TRUE(ReadWholeFile(out, &extracted));
  EXPECT_EQ(std::string(extracted.begin(), extracted.end()), "ab\ncde\nf");
}

// A chunk that claims content in fewer bytes than any zlib stream can never
// be read; refusing it keeps a crafted list of them from filling the index.
TEST(CraftedInputTest, ContentChunkWithoutStoredBytesIsRefused) {
  for (const Bytes& stored : {Bytes(), Bytes(BundleFile::kMinStoredContentChunk - 1, 0x78)}) {
    TempDir dir;
    TraceCapture trace;
    BundleFile bundle;
    EXPECT_FALSE(Open(&bundle, dir, BundleOfChunks({{1, stored, 3}}, "IBND"), &trace));
    EXPECT_NE(std::find(trace.lines().begin(), trace.lines().end(), "Reading file for checksum failed!\n"),
              trace.lines().end());
  }
}

}  // namespace
