// Writers of the packer checked against the stub's own readers: attachment
// chains, the bundle section, signature records and finished installers.
#include <gtest/gtest.h>

#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pssr.h>
#include <cryptopp/queue.h>
#include <cryptopp/sha.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bundle/attachment.h"
#include "bundle/pe_layout.h"
#include "integrity/file_signature.h"
#include "pe_builder.h"
#include "test_support.h"
#include "tools/packlib/attachment_writer.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/key_set.h"
#include "tools/packlib/pe_bundle_section.h"
#include "util/byte_reader.h"
#include "util/hex.h"
#include "util/platform.h"

namespace {

using Verifier = CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier;

uint32_t Get32(const Bytes& b, uint64_t off) { return ByteReader::LoadU32(b.data() + off); }
uint16_t Get16(const Bytes& b, uint64_t off) {
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Small keys keep the tests fast; the signing logic does not depend on size.
const CryptoPP::RSA::PrivateKey& TestKey() {
  static const CryptoPP::RSA::PrivateKey key = [] {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::RSA::PrivateKey k;
    k.Initialize(rng, 1024, 17);
    return k;
  }();
  return key;
}

// The stub's verification done with the test key: the signature of the "_SG2"
// record over the bytes before it, with the file's header ranges left out
// when asked.
bool VerifiesWithTestKey(const std::wstring& path, bool excludeHeaderRanges) {
  uint32_t signedLength = 0;
  std::map<std::string, JsonValue> record = ReadSignatureRecord(path, &signedLength);
  const std::string hex = record["sign"].AsString();
  Bytes file;
  if (hex.empty() || !ReadWholeFile(path, &file) || signedLength > file.size()) return false;
  RangeList ranges;
  if (excludeHeaderRanges) {
    File f;
    if (!f.Open(path, FileAccess::kRead) || !CollectVolatileHeaderRanges(f, &ranges)) return false;
  }
  Bytes kept;
  uint64_t pos = 0;
  for (const HeaderRange& r : ranges) {
    kept.insert(kept.end(), file.begin() + pos, file.begin() + r.first);
    pos = static_cast<uint64_t>(r.first) + r.second;
  }
  kept.insert(kept.end(), file.begin() + pos, file.begin() + signedLength);
  Bytes signature(hex.size() / 2);
  HexToBytes(signature.data(), hex.c_str(), static_cast<int32_t>(signature.size()));
  const CryptoPP::RSA::PublicKey publicKey(TestKey());
  Verifier verifier(publicKey);
  return verifier.VerifyMessage(kept.data(), kept.size(), signature.data(), signature.size());
}

PeRecipe StubRecipe(bool pe32plus) {
  PeRecipe recipe;
  recipe.pe32plus = pe32plus;
  recipe.sections = {{".text", PatternBytes(0x300), false}, {".rsrc", PatternBytes(0x10, 3), false}};
  return recipe;
}

// ---------------------------------------------------------------------------
// Attachment writer

TEST(AttachmentWriterTest, MatchesTheFormatByteForByte) {
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"TYPE", Bytes{'g', 'u', 'i'}}, {"LOAD", PatternBytes(3000)}, {"_SG2", Bytes{}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> chain;
    ASSERT_TRUE(AppendAttachment(&chain, c.first, c.second.data(), c.second.size()));
    EXPECT_EQ(chain, MakeAttachment(c.first, c.second)) << c.first;
  }
}

TEST(AttachmentWriterTest, RefusesTypesThatAreNotFourCharacters) {
  for (const char* type : {"", "TYP", "TYPES"}) {
    std::vector<uint8_t> chain = {1, 2, 3};
    EXPECT_FALSE(AppendAttachment(&chain, type, "data")) << type;
    EXPECT_EQ(chain, (std::vector<uint8_t>{1, 2, 3}));
  }
}

TEST(AttachmentWriterTest, ChainAppendedToAFileIsReadBackInFileMode) {
  TempDir dir;
  Bytes file = PatternBytes(777, 9);
  const Bytes load = PatternBytes(3 * 1024 * 1024 + 5, 2);  // more than one read chunk
  ASSERT_TRUE(AppendAttachment(&file, "LOAD", load.data(), load.size()));
  ASSERT_TRUE(AppendAttachment(&file, "IBND", "inner"));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"setup.exe"), file));

  AttachmentRequest request;
  request.container = dir.File(L"setup.exe");
  request.type = "LOAD";
  request.destination = dir.File(L"load.out");
  ASSERT_TRUE(ExtractAttachment(50, 0, request));
  Bytes extracted;
  ASSERT_TRUE(ReadWholeFile(request.destination, &extracted));
  EXPECT_EQ(extracted, load);
}

TEST(AttachmentWriterTest, RewrittenDataGetsAFreshDigest) {
  TempDir dir;
  PeImage pe = BuildPe(StubRecipe(false));
  Bytes chain;
  ASSERT_TRUE(AppendAttachment(&chain, "_SG2", std::string(20, '0')));
  ASSERT_TRUE(AppendAttachment(&chain, "TYPE", "gui"));
  std::string error;
  ASSERT_TRUE(AddBundleSection(&pe.bytes, chain, &error)) << error;
  const uint64_t dataOffset = pe.bytes.size() - chain.size();

  const std::string replacement = "{\"sign\":\"abcdef12\"} ";
  ASSERT_EQ(replacement.size(), 20u);
  ASSERT_TRUE(RewriteAttachmentData(&pe.bytes, dataOffset, replacement));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"a.exe"), pe.bytes));
  EXPECT_EQ(ReadAttachment(dir.File(L"a.exe"), "_SG2"), replacement);

  // A size other than the stored one, or an offset that is not an
  // attachment's data, leaves the buffer alone.
  const Bytes before = pe.bytes;
  EXPECT_FALSE(RewriteAttachmentData(&pe.bytes, dataOffset, replacement + "x"));
  EXPECT_FALSE(RewriteAttachmentData(&pe.bytes, dataOffset + 1, replacement));
  EXPECT_FALSE(RewriteAttachmentData(&pe.bytes, pe.bytes.size() + 100, replacement));
  EXPECT_EQ(pe.bytes, before);
}

// ---------------------------------------------------------------------------
// Bundle section

class BundleSectionTest : public ::testing::TestWithParam<bool> {};

TEST_P(BundleSectionTest, HeaderFieldsDescribeTheUnroundedBundle) {
  PeRecipe recipe = StubRecipe(GetParam());
  recipe.overlay = PatternBytes(13, 5);  // the file end is not aligned
  PeImage pe = BuildPe(recipe);
  const uint32_t oldEnd = static_cast<uint32_t>(pe.bytes.size());
  const Bytes chain = MakeChain({{"TYPE", Bytes{'g', 'u', 'i'}}, {"LOAD", PatternBytes(1001)}});

  std::string error;
  ASSERT_TRUE(AddBundleSection(&pe.bytes, chain, &error)) << error;

  const uint32_t nt = pe.ntOffset, opt = pe.optionalHeaderOffset;
  const uint32_t header = pe.SectionHeader(2);
  const uint32_t pointer = (oldEnd + 0xFFF) & ~0xFFFu;  // page-aligned, after the overlay
  // .rsrc sits at 0x2000 with 0x10 bytes: the next free page is 0x3000.
  const uint32_t va = 0x3000;
  EXPECT_EQ(Get16(pe.bytes, nt + 6), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pe.bytes[header]), 8),
            std::string(".QXBNDL\0", 8));
  EXPECT_EQ(Get32(pe.bytes, header + 8), chain.size());   // VirtualSize
  EXPECT_EQ(Get32(pe.bytes, header + 12), va);
  EXPECT_EQ(Get32(pe.bytes, header + 16), chain.size());  // SizeOfRawData, not rounded
  EXPECT_EQ(Get32(pe.bytes, header + 20), pointer);
  EXPECT_EQ(Get32(pe.bytes, opt + 56), va + chain.size());  // SizeOfImage, not rounded
  EXPECT_EQ(Get32(pe.bytes, opt + 64), 0u);                 // CheckSum cleared
  EXPECT_EQ(pe.bytes.size(), pointer + chain.size());
  EXPECT_EQ(Bytes(pe.bytes.begin() + pointer, pe.bytes.end()), chain);
  EXPECT_EQ(Bytes(pe.bytes.begin() + oldEnd, pe.bytes.begin() + pointer),
            Bytes(pointer - oldEnd, 0));

  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File(L"s.exe"), pe.bytes));
  File file;
  ASSERT_TRUE(file.Open(dir.File(L"s.exe"), FileAccess::kRead));
  EXPECT_EQ(GetLastSectionEnd(file), static_cast<int32_t>(pe.bytes.size()));
  RangeList ranges;
  ASSERT_TRUE(CollectVolatileHeaderRanges(file, &ranges));
  ASSERT_EQ(ranges.size(), 5u);
  EXPECT_EQ(ranges[4].first, header);  // the new header is the excluded last one
  file.Close();
  EXPECT_EQ(ReadAttachment(dir.File(L"s.exe"), "TYPE"), "gui");
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, BundleSectionTest, ::testing::Bool());

// The bundle's raw data starts on a page boundary (so Wine maps it instead of
// reading it in); the padding before it belongs to the section that ended the
// file, and the bundle's virtual range starts after that section's raw size.
TEST(BundleSectionPaddingTest, PageAlignedDataWithoutGaps) {
  struct Case {
    const char* what;
    size_t rsrcSize;        // .rsrc follows .text (raw 0x400 bytes) in the file
    uint32_t fileAlignment;
    size_t overlay;         // bytes after the last section
    uint32_t pointer;       // expected PointerToRawData of the bundle
    uint32_t rsrcRawSize;   // expected SizeOfRawData of .rsrc afterwards
    uint32_t rsrcVirtual;   // expected VirtualSize of .rsrc afterwards
    uint32_t va;            // expected VirtualAddress of the bundle
  };
  const Case cases[] = {
      {"padding joins .rsrc", 0x10, 0x200, 0, 0x1000, 0xA00, 0xA00, 0x3000},
      {"file already ends on a page", 0xA00, 0x200, 0, 0x1000, 0xA00, 0xA00, 0x3000},
      {"padded raw size passes the virtual page", 0xE10, 0x200, 0, 0x2000, 0x1A00, 0x1A00, 0x4000},
      {"overlay: the padding stays a gap", 0x10, 0x200, 13, 0x1000, 0x200, 0x10, 0x3000},
      {"file alignment above the page size", 0x10, 0x2000, 13, 0x8000, 0x2000, 0x10, 0x5000},
  };
  for (const Case& c : cases) {
    PeRecipe recipe = StubRecipe(false);
    recipe.fileAlignment = c.fileAlignment;
    recipe.sections[1].data = PatternBytes(c.rsrcSize, 3);
    recipe.overlay = PatternBytes(c.overlay, 5);
    PeImage pe = BuildPe(recipe);
    const uint32_t oldEnd = static_cast<uint32_t>(pe.bytes.size());
    const Bytes chain = MakeChain({{"TYPE", Bytes{'x'}}});
    std::string error;
    ASSERT_TRUE(AddBundleSection(&pe.bytes, chain, &error)) << c.what << ": " << error;

    const uint32_t bundle = pe.SectionHeader(2), rsrc = pe.SectionHeader(1);
    EXPECT_EQ(Get32(pe.bytes, bundle + 20), c.pointer) << c.what;
    EXPECT_EQ(Get32(pe.bytes, bundle + 12), c.va) << c.what;
    EXPECT_EQ(Get32(pe.bytes, rsrc + 16), c.rsrcRawSize) << c.what;
    EXPECT_EQ(Get32(pe.bytes, rsrc + 8), c.rsrcVirtual) << c.what;
    EXPECT_EQ(Bytes(pe.bytes.begin() + oldEnd, pe.bytes.begin() + c.pointer),
              Bytes(c.pointer - oldEnd, 0)) << c.what;
  }
}

TEST(BundleSectionSlackTest, NeedsFortyFreeBytesBeforeTheFirstSectionData) {
  // Two section headers end at lfanew + 248 + 80; the first raw data is at 0x200.
  struct Case {
    uint32_t lfanew;
    bool fits;
  };
  for (const Case& c : {Case{0x90, true}, Case{0x94, false}}) {  // exactly 40, 36 bytes
    PeRecipe recipe = StubRecipe(false);
    recipe.lfanew = c.lfanew;
    PeImage pe = BuildPe(recipe);
    ASSERT_EQ(pe.rawPointer[0], 0x200u);
    const Bytes before = pe.bytes;
    std::string error;
    EXPECT_EQ(AddBundleSection(&pe.bytes, MakeChain({{"TYPE", Bytes{'x'}}}), &error), c.fits)
        << std::hex << c.lfanew;
    if (!c.fits) {
      EXPECT_NE(error.find("no room"), std::string::npos) << error;
      EXPECT_EQ(pe.bytes, before);
    }
  }
}

TEST(BundleSectionRefusalTest, LeavesTheImageUnchanged) {
  struct Case {
    const char* what;
    Bytes image;
    Bytes chain;
  };
  const Bytes chain = MakeChain({{"TYPE", Bytes{'x'}}});
  PeRecipe signedRecipe = StubRecipe(false);
  signedRecipe.certificate = MakeCertificateTable(0x300);
  PeRecipe bundled = StubRecipe(false);
  bundled.sections.push_back({".QXBNDL", chain, true});
  PeImage dirtySlack = BuildPe(StubRecipe(false));
  dirtySlack.bytes[dirtySlack.SectionHeader(2) + 30] = 1;
  const std::vector<Case> cases = {
      {"certificate table", BuildPe(signedRecipe).bytes, chain},
      {"existing bundle section", BuildPe(bundled).bytes, chain},
      {"empty chain", BuildPe(StubRecipe(false)).bytes, Bytes{}},
      {"used header slack", dirtySlack.bytes, chain},
      {"not a PE file", PatternBytes(4096), chain},
  };
  for (const Case& c : cases) {
    Bytes image = c.image;
    std::string error;
    EXPECT_FALSE(AddBundleSection(&image, c.chain, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(image, c.image) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Signatures

TEST(ExeSignerTest, HeaderRangesAreLeftOutOfTheSignature) {
  const Bytes file = PatternBytes(3000, 4);
  const RangeList ranges = {{10, 2}, {100, 50}, {2990, 10}};
  std::vector<uint8_t> signature;
  std::string error;
  ASSERT_TRUE(SignFilePrefix(FileKeySigner(TestKey()), file, 3000, ranges, &signature, &error)) << error;
  EXPECT_EQ(signature.size(), 128u);

  Bytes kept(file.begin(), file.begin() + 10);
  kept.insert(kept.end(), file.begin() + 12, file.begin() + 100);
  kept.insert(kept.end(), file.begin() + 150, file.begin() + 2990);
  const CryptoPP::RSA::PublicKey publicKey(TestKey());
  Verifier verifier(publicKey);
  EXPECT_TRUE(verifier.VerifyMessage(kept.data(), kept.size(), signature.data(), signature.size()));
}

TEST(ExeSignerTest, RefusesRangesTheVerifierCouldNotWalk) {
  const Bytes file = PatternBytes(1000);
  const std::vector<RangeList> bad = {
      {{100, 10}, {50, 10}},  // out of order
      {{100, 10}, {105, 10}}, // overlapping
      {{990, 11}},            // past the signed length
  };
  for (const RangeList& ranges : bad) {
    std::vector<uint8_t> signature;
    std::string error;
    EXPECT_FALSE(SignFilePrefix(FileKeySigner(TestKey()), file, 1000, ranges, &signature, &error));
    EXPECT_TRUE(signature.empty());
  }
  std::vector<uint8_t> signature;
  std::string error;
  EXPECT_FALSE(SignFilePrefix(FileKeySigner(TestKey()), file, 1001, RangeList(), &signature, &error));
}

TEST(ExeSignerTest, WholePrefixRecordSignsEverythingBeforeIt) {
  TempDir dir;
  Bytes setup = BuildPe(StubRecipe(false)).bytes;
  ASSERT_TRUE(AppendAttachment(&setup, "IBND", "inner bundle"));
  const size_t signedLength = setup.size();
  std::string error;
  ASSERT_TRUE(AppendWholePrefixSignature(&setup, FileKeySigner(TestKey()), &error)) << error;
  const std::wstring path = dir.File(L"setup.exe");
  ASSERT_TRUE(WriteWholeFile(path, setup));

  uint32_t dataOffset = 0;
  const std::string record = ReadSignedFileAttachment(path, "_SG2", &dataOffset, 0);
  EXPECT_EQ(dataOffset, signedLength);
  EXPECT_EQ(record.size(), SignatureRecordSize(FileKeySigner(TestKey())));
  EXPECT_EQ(record.compare(0, 9, "{\"sign\":\""), 0);
  EXPECT_TRUE(VerifiesWithTestKey(path, false));

  setup[signedLength - 40] ^= 1;  // inside the IBND attachment, before the record
  ASSERT_TRUE(WriteWholeFile(path, setup));
  EXPECT_FALSE(VerifiesWithTestKey(path, false));
}

class SignedInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_ = PatternBytes(70000, 6);
    std::string error;
    ASSERT_TRUE(WriteSignedInstaller(BuildPe(StubRecipe(false)).bytes, setup_, "gui", FileKeySigner(TestKey()),
                                     path(), &error))
        << error;
    ASSERT_TRUE(ReadWholeFile(path(), &installer_));
  }
  std::wstring path() const { return dir_.File(L"installer.exe"); }

  // What an Authenticode signer does: checksum, padding to 8, certificate
  // table after the last section, directory entry.
  void AddCertificateTable() {
    const PeImage layout = BuildPe(StubRecipe(false));
    put32(installer_, layout.optionalHeaderOffset + 64, 0x12345678);
    installer_.resize((installer_.size() + 7) & ~size_t{7}, 0);
    const uint32_t offset = static_cast<uint32_t>(installer_.size());
    const Bytes table = MakeCertificateTable(0x400);
    appendBytes(installer_, table.data(), table.size());
    put32(installer_, layout.CertificateDirectory(), offset);
    put32(installer_, layout.CertificateDirectory() + 4, static_cast<uint32_t>(table.size()));
    ASSERT_TRUE(WriteWholeFile(path(), installer_));
  }

  TempDir dir_;
  Bytes setup_;
  Bytes installer_;
};

TEST_F(SignedInstallerTest, BundleSectionHoldsTheChainInItsOrder) {
  EXPECT_EQ(ReadAttachment(path(), "TYPE"), "gui");
  EXPECT_EQ(ReadAttachment(path(), "LOAD"), Text(setup_));
  File file;
  ASSERT_TRUE(file.Open(path(), FileAccess::kRead));
  const int32_t end = GetLastSectionEnd(file);
  ASSERT_EQ(end, static_cast<int32_t>(installer_.size()));
  std::vector<std::string> types;
  std::vector<uint8_t> buffer;
  for (const AttachmentInfo& a : ListAttachments(file, end)) {
    types.push_back(a.type);
    EXPECT_TRUE(AttachmentDigestMatches(file, a, &buffer)) << a.type;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"LOAD", "TYPE", "_SG2", "_SG1"}));
}

TEST_F(SignedInstallerTest, VerifiesOnlyWithHeaderRangesLeftOut) {
  EXPECT_TRUE(VerifiesWithTestKey(path(), true));
  EXPECT_FALSE(VerifiesWithTestKey(path(), false));
}

TEST_F(SignedInstallerTest, StillVerifiesAfterACertificateTableIsAdded) {
  uint32_t before = 0, after = 0;
  ASSERT_FALSE(ReadSignedFileAttachment(path(), "_SG2", &before, 0).empty());
  AddCertificateTable();
  ASSERT_FALSE(ReadSignedFileAttachment(path(), "_SG2", &after, 0).empty());
  EXPECT_EQ(after, before);
  EXPECT_TRUE(VerifiesWithTestKey(path(), true));
}

TEST_F(SignedInstallerTest, ChangedStubByteFailsAndChangedSetupByteDoesNot) {
  const PeImage layout = BuildPe(StubRecipe(false));
  Bytes original = installer_;
  installer_[layout.rawPointer[0] + 5] ^= 1;  // .text
  ASSERT_TRUE(WriteWholeFile(path(), installer_));
  EXPECT_FALSE(VerifiesWithTestKey(path(), true));

  installer_ = original;
  installer_[installer_.size() - 100] ^= 1;  // inside LOAD, after the record
  ASSERT_TRUE(WriteWholeFile(path(), installer_));
  EXPECT_TRUE(VerifiesWithTestKey(path(), true));
}

TEST(SignedInstallerRefusalTest, TooManySectionsForTheVerifier) {
  TempDir dir;
  PeRecipe recipe;
  recipe.lfanew = 0x40;
  for (int i = 0; i < 15; ++i) recipe.sections.push_back({".s" + std::to_string(i), Bytes{1}, false});
  std::string error;
  EXPECT_FALSE(WriteSignedInstaller(BuildPe(recipe).bytes, Bytes{1}, "gui", FileKeySigner(TestKey()),
                                    dir.File(L"out.exe"), &error));
  EXPECT_NE(error.find("at most 15"), std::string::npos) << error;
  EXPECT_FALSE(FileExists(dir.File(L"out.exe")));
}

// ---------------------------------------------------------------------------
// Key sets

TEST(KeySetTest, GeneratesEveryFileOnceAndNeverOverwrites) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(GenerateKeySet(dir.path(), &error)) << error;
  const std::vector<std::pair<const wchar_t*, size_t>> sizes = {
      {kRootPublicKeyFile, 294}, {kExeSigningPublicKeyFile, 548},
      {kBundleSigningPublicKeyFile, 294}, {kBundleKeyTableFile, 5000}};
  for (const auto& s : sizes) {
    Bytes bytes;
    ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), s.first), &bytes));
    EXPECT_EQ(bytes.size(), s.second);
  }
  std::unique_ptr<PrivateKeySigner> exe;
  EXPECT_TRUE(OpenKeySetSigner(dir.path(), KeyRole::kExeSigning, &exe, &error)) << error;

  // The certificate binds the bundle-signing key to "IBND" under the root key.
  Bytes cert, rootDer, bundleDer;
  ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), kBundleSigningCertFile), &cert));
  ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), kRootPublicKeyFile), &rootDer));
  ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), kBundleSigningPublicKeyFile), &bundleDer));
  ASSERT_GE(cert.size(), 16u + bundleDer.size());
  EXPECT_EQ(Text(Bytes(cert.begin(), cert.begin() + 4)), "IBND");
  ASSERT_EQ(Get32(cert, 8), bundleDer.size());
  EXPECT_EQ(Bytes(cert.begin() + 12, cert.begin() + 12 + bundleDer.size()), bundleDer);
  const uint32_t sigLength = Get32(cert, 12 + bundleDer.size());
  ASSERT_EQ(cert.size(), 16 + bundleDer.size() + sigLength);
  CryptoPP::RSA::PublicKey root;
  CryptoPP::ArraySource rootSource(rootDer.data(), rootDer.size(), true);
  root.Load(rootSource);
  CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Verifier pss(root);
  Bytes message(cert.begin(), cert.begin() + 8);  // goal | expiry | key
  appendBytes(message, bundleDer.data(), bundleDer.size());
  EXPECT_TRUE(pss.VerifyMessage(message.data(), message.size(),
                                cert.data() + 16 + bundleDer.size(), sigLength));

  Bytes table;
  ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), kBundleKeyTableFile), &table));
  EXPECT_FALSE(GenerateKeySet(dir.path(), &error));
  Bytes again;
  ASSERT_TRUE(ReadWholeFile(KeySetFile(dir.path(), kBundleKeyTableFile), &again));
  EXPECT_EQ(again, table);
}

TEST(KeySetTest, ExeSigningKeyMustBeTheKindTheStubEmbeds) {
  TempDir dir;
  CryptoPP::ByteQueue der;
  TestKey().Save(der);
  Bytes bytes(static_cast<size_t>(der.MaxRetrievable()));
  der.Get(bytes.data(), bytes.size());
  ASSERT_TRUE(WriteWholeFile(KeySetFile(dir.path(), kExeSigningPrivateKeyFile), bytes));
  std::unique_ptr<PrivateKeySigner> key;
  std::string error;
  EXPECT_FALSE(OpenKeySetSigner(dir.path(), KeyRole::kExeSigning, &key, &error));
  EXPECT_NE(error.find("4096"), std::string::npos) << error;

  ASSERT_TRUE(WriteWholeFile(KeySetFile(dir.path(), kExeSigningPrivateKeyFile), Bytes(100, 7)));
  EXPECT_FALSE(OpenKeySetSigner(dir.path(), KeyRole::kExeSigning, &key, &error));
}

}  // namespace
