// Validation while opening a bundle: the refusals and their exact traces, the
// signature over junk, the chunk limits and the record walk's bounds.
#include <gtest/gtest.h>

#include <functional>

#include "bundle/bundle_file.h"
#include "util/fault_injection.h"
#include "test_support.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "tools/packlib/key_cert_writer.h"

// Shared fixtures, defined in bundle_file_test.cc.
namespace bundle_test {
const CryptoPP::RSA::PrivateKey& RootKey();
const CryptoPP::RSA::PrivateKey& SigningKey();
Bytes SigningKeyDer();
Bytes Certificate(const std::string& goal);
Bytes KeyTable();
Bytes Pattern(size_t n, uint32_t seed);
}  // namespace bundle_test

using namespace bundle_test;
using Lines = std::vector<std::string>;

namespace {

const Lines kStart = {"Validating checksum", "Going to read signature"};
const Lines kWalk = {"Going to read checksum", "Iterate done"};
const std::string kRefused = "Invalid SHA1 encountered!\n";

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// How a test bundle ends: after the records, the writer is handed over.
using Ending = std::function<void(InnerBundleWriter&)>;

void SignedEnding(InnerBundleWriter& w) {
  w.WriteEndMarker();
  w.WriteSignedTail(Certificate("IBND"));
}

// Records "a" (300 bytes in 64-byte chunks) and "b" (5 bytes), then `ending`.
Bytes Build(const Ending& ending = SignedEnding) {
  Bytes out;
  InnerBundleWriter w([&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); return true; },
                      KeyTable(), SigningKey());
  w.WriteHeader(2);
  const Bytes a = Pattern(300, 1);
  w.WriteRecord("a", a.data(), a.size(), 64);
  w.WriteRecord("b", a.data(), 5, 64);
  ending(w);
  return out;
}

struct Outcome {
  bool opened;
  Lines trace;
  size_t records;
};

Outcome Open(const Bytes& bundle, uint32_t max_chunk = 0x1900000) {
  TempDir dir;
  const std::wstring path = dir.File(L"ibnd");
  EXPECT_TRUE(WriteWholeFile(path, bundle));
  BundleFile file;
  file.SetExpectedGoal("IBND");
  file.SetMaxChunkSize(max_chunk);
  TraceCapture trace;
  const bool opened = file.Open(path, false);
  return {opened, trace.lines(), file.records().size()};
}

// A signature block with fields 1 and 2 empty.
Bytes Block(InnerBundleWriter& w, const Bytes& certificate) {
  return EncodeSignatureBlock({}, {}, w.FinishSignature(), certificate);
}

TEST(BundleValidationTest, AcceptsASignedBundleAndIndexesIt) {
  const Outcome o = Open(Build());
  EXPECT_TRUE(o.opened);
  EXPECT_EQ(Join({kStart, kWalk, {"Junk read done"}}), o.trace);
  EXPECT_EQ(2u, o.records);
}

TEST(BundleValidationTest, RefusesAnUnsignedBundleWithoutWalkingIt) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WriteTail(Block(w, Certificate("IBND")), "QXSH", w.Digest());
  }));
  EXPECT_FALSE(o.opened);
  EXPECT_EQ((Lines{"Validating checksum", "Bundle is not digitally signed.", kRefused}), o.trace);
}

// Malformed blocks are refused without a trace of their own.
struct BlockCase {
  const char* label;
  std::function<Bytes(InnerBundleWriter&)> block;
  bool accepted;
};

class SignatureBlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(SignatureBlockTest, ChecksTheBlockShape) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WriteTail(GetParam().block(w), "QXSG", w.Digest());
  }));
  EXPECT_EQ(GetParam().accepted, o.opened);
  if (!GetParam().accepted) {
    EXPECT_EQ(Join({kStart, {kRefused}}), o.trace);
  }
}

Bytes PaddedBlock(InnerBundleWriter& w, size_t total) {
  const Bytes signature = w.FinishSignature(), cert = Certificate("IBND");
  return EncodeSignatureBlock({}, Bytes(total - 16 - signature.size() - cert.size(), 0), signature, cert);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SignatureBlockTest,
    ::testing::Values(
        BlockCase{"LargestBlock", [](InnerBundleWriter& w) { return PaddedBlock(w, 8192); }, true},
        BlockCase{"OneOverTheLargest", [](InnerBundleWriter& w) { return PaddedBlock(w, 8193); }, false},
        BlockCase{"FieldsOneByteShort",  // lengths add up to L - 17
                  [](InnerBundleWriter& w) { Bytes b = Block(w, Certificate("IBND")); b.push_back(0); return b; },
                  false},
        BlockCase{"FieldsOneByteLong",  // lengths add up to L - 15
                  [](InnerBundleWriter& w) { Bytes b = Block(w, Certificate("IBND")); b.pop_back(); return b; },
                  false},
        BlockCase{"NegativeLength",
                  [](InnerBundleWriter& w) {
                    Bytes b = Block(w, Certificate("IBND"));
                    put32(b, 0, 0xFFFFFFFF);
                    return b;
                  },
                  false}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.label); });

TEST(BundleValidationTest, RefusesATailThatWouldOverlapTheHeader) {
  // 25-byte header, 4 bytes, then a tail claiming a 20-byte block.
  Bytes bundle = Build([](InnerBundleWriter&) {});
  bundle.resize(29);
  append32(bundle, 20);
  appendStr(bundle, "QXSG");
  bundle.resize(bundle.size() + 20);
  const Outcome o = Open(bundle);
  EXPECT_FALSE(o.opened);
  EXPECT_EQ(Join({kStart, {kRefused}}), o.trace);
}

TEST(BundleValidationTest, WrongGoalFailsEvenWithAMatchingDigest) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WriteSignedTail(Certificate("AVSG"));
  }));
  EXPECT_FALSE(o.opened);
  EXPECT_EQ(Join({kStart,
                  {"Public key goal is AVSG, should be IBND\n", "Invalid public key inside bundle"},
                  kWalk,
                  {"Digital signature is invalid!", kRefused}}),
            o.trace);
}

TEST(BundleValidationTest, WithoutAKeyADigestMismatchIsListedByteByByte) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    Bytes digest = w.Digest();
    digest[3] ^= 0xFF;
    w.WriteTail(Block(w, Certificate("AVSG")), "QXSG", digest);
  }));
  EXPECT_FALSE(o.opened);
  ASSERT_EQ(kStart.size() + 2 + kWalk.size() + 2 + 20 + 1, o.trace.size());
  const size_t at = kStart.size() + 2 + kWalk.size() + 1;
  EXPECT_EQ("Digest compare fail\n", o.trace[at]);
  EXPECT_EQ("00: read ", o.trace[at + 1].substr(0, 9));
  EXPECT_NE(o.trace[at + 4].substr(9, 2), o.trace[at + 4].substr(17, 2));  // byte 3
  EXPECT_EQ(o.trace[at + 5].substr(9, 2), o.trace[at + 5].substr(17, 2));
}

TEST(BundleValidationTest, SignedBundleIgnoresAWrongDigest) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WriteTail(Block(w, Certificate("IBND")), "QXSG", Bytes(20, 0xEE));
  }));
  EXPECT_TRUE(o.opened);
}

TEST(BundleValidationTest, ChangedChunkByteBreaksOnlyTheSignature) {
  Bytes bundle = Build();
  // Record "a" starts at 25: name length, name, count, two lengths, data.
  bundle[25 + 4 + 1 + 4 + 8 + 3] ^= 0x40;
  const Outcome o = Open(bundle);
  EXPECT_FALSE(o.opened);
  EXPECT_EQ(Join({kStart, kWalk,
                  {"Junk read done", "Exception in validate sign: VerifierFilter: digital signature not valid",
                   "Digital signature is invalid!", kRefused}}),
            o.trace);
}

TEST(BundleValidationTest, SignedJunkIsAccepted) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WritePlain({'J', 'U', 'N', 'K'});
    w.WriteSignedTail(Certificate("IBND"));
  }));
  EXPECT_TRUE(o.opened);
  EXPECT_EQ(Join({kStart, kWalk, {"Junk len 4", "Junk read done"}}), o.trace);
}

TEST(BundleValidationTest, NameLength256EndsTheWalkAndTheRestIsJunk) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
    w.WriteU32(256);
    w.WriteRecord("c", nullptr, 0);  // scrambled, but read as 9 bytes of junk
    w.WriteSignedTail(Certificate("IBND"));
  }));
  EXPECT_TRUE(o.opened);
  EXPECT_EQ(2u, o.records);
  EXPECT_EQ(Join({kStart, kWalk, {"Junk len 9", "Junk read done"}}), o.trace);
}

TEST(BundleValidationTest, RecordListRunningIntoTheBlockIsRefused) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) { w.WriteSignedTail(Certificate("IBND")); }));
  EXPECT_FALSE(o.opened);
  EXPECT_EQ(Join({kStart, {"Going to read checksum", "Reading file for checksum failed!\n", kRefused}}), o.trace);
}

TEST(BundleValidationTest, MoreThan256RecordsAreRefused) {
  for (size_t count : {256u, 257u}) {
    const Outcome o = Open(Build([count](InnerBundleWriter& w) {
      for (size_t i = 2; i < count; ++i) w.WriteRecord("r" + std::to_string(i), nullptr, 0);
      SignedEnding(w);
    }));
    EXPECT_EQ(count == 256, o.opened) << count;
    EXPECT_EQ(count == 256 ? 256u : 0u, o.records);
  }
}

// Chunk limits with a maximum of 100 plain bytes: compress bound 113.
struct LimitCase {
  uint32_t plain_length;
  size_t stored_length;
  bool accepted;
};

class ChunkLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ChunkLimitTest, EnforcesPlainAndStoredLimits) {
  const Outcome o = Open(Build([](InnerBundleWriter& w) {
                           w.BeginRecord("c", 1);
                           w.WriteRawChunk(GetParam().plain_length, Bytes(GetParam().stored_length, 0x55));
                           SignedEnding(w);
                         }),
                         100);
  EXPECT_EQ(GetParam().accepted, o.opened);
  if (!GetParam().accepted) {
    EXPECT_EQ(Join({kStart, {"Going to read checksum", "Reading file for checksum failed!\n", kRefused}}), o.trace);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, ChunkLimitTest,
                         ::testing::Values(LimitCase{100, 50, true}, LimitCase{101, 50, false},
                                           LimitCase{0xFFFFFFFF, 50, false}, LimitCase{10, 113, true},
                                           LimitCase{10, 114, false}));

TEST(BundleValidationTest, CertifiedBytesThatAreNoKeyAreARefusal) {
  const Bytes not_a_key = {0x30, 0x03, 0x02, 0x01, 0x05};
  const Outcome o = Open(Build([&](InnerBundleWriter& w) {
    w.WriteEndMarker();
    w.WriteSignedTail(MakeKeyCertificate(FileKeySigner(RootKey()), "IBND", 0, not_a_key));
  }));
  EXPECT_FALSE(o.opened);
  EXPECT_EQ(Join({kStart, {"Public key is not a valid RSA key\n", "Invalid public key inside bundle"}, kWalk,
                  {"Digital signature is invalid!", kRefused}}),
            o.trace);
}

}  // namespace

// When the second handle for hashing cannot be had, the walk feeds the
// verifier itself: the same verdicts for a good and a changed bundle.
TEST(BundleValidationTest, WithoutASecondHandleTheWalkHashesItself) {
  Bytes changed = Build();
  changed[25 + 4 + 1 + 4 + 8 + 3] ^= 0x40;
  TempDir dir;
  const std::wstring path = dir.File(L"ibnd");
  bool fallback_seen = false;
  for (const auto& [bundle, expected] : {std::make_pair(Build(), true), std::make_pair(changed, false)}) {
    ASSERT_TRUE(WriteWholeFile(path, bundle));
    ArmFaultInjection(0);
    {
      BundleFile probe;
      probe.SetExpectedGoal("IBND");
      EXPECT_EQ(expected, probe.Open(path, false));
    }
    const uint64_t calls = FaultCallCount();
    int opens = 0;
    for (uint64_t n = 1; n <= calls; ++n) {
      ArmFaultInjection(n);
      BundleFile file;
      file.SetExpectedGoal("IBND");
      const bool opened = file.Open(path, false);
      FaultSite site;
      if (FaultWasInjected(&site) && site == FaultSite::kOpen && ++opens == 2) {
        EXPECT_EQ(expected, opened);
        fallback_seen = true;
      }
    }
  }
  ArmFaultInjection(0);
  EXPECT_TRUE(fallback_seen);
}

// A walk that throws (an allocation failing on a crafted bundle) while the
// second thread still hashes: the bundle is refused, and the thread stops
// before its verifier is freed (AddressSanitizer reports the use otherwise).
TEST(BundleValidationTest, AThrowDuringTheWalkRefusesAndStopsTheHasher) {
  Bytes bundle;
  InnerBundleWriter w([&](const uint8_t* p, size_t n) { bundle.insert(bundle.end(), p, p + n); return true; },
                      KeyTable(), SigningKey());
  w.WriteHeader(1);
  const Bytes big = Pattern(6 << 20, 7);  // hashing it outlasts the walk
  w.WriteRecord("big", big.data(), big.size(), 64 << 10);
  SignedEnding(w);
  TempDir dir;
  const std::wstring path = dir.File(L"ibnd");
  ASSERT_TRUE(WriteWholeFile(path, bundle));
  int thrown = 0;
  for (uint64_t n = 1; n <= 12; ++n) {
    ArmFaultInjection(n, FaultEffect::kThrow);
    BundleFile file;
    file.SetExpectedGoal("IBND");
    bool opened = true;
    try {
      opened = file.Open(path, false);
    } catch (const std::bad_alloc&) {
      opened = false;  // thrown before the walk, where no thread runs yet
    }
    FaultSite site;
    if (FaultWasInjected(&site)) {
      ++thrown;
      EXPECT_FALSE(opened) << "call " << n;
    }
  }
  ArmFaultInjection(0);
  EXPECT_GT(thrown, 0);
}
