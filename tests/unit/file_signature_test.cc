// The executable signature check, on images built in memory and signed with
// the development executable key that the build embeds.
#include <gtest/gtest.h>

#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include <string>
#include <vector>

#include "integrity/deferred_signature_check.h"
#include "integrity/file_signature.h"
#include "pe_builder.h"
#include "test_keys.h"
#include "test_support.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/file_io.h"

namespace {

const CryptoPP::RSA::PrivateKey& ExeKey() {
  static CryptoPP::RSA::PrivateKey key = [] {
    CryptoPP::RSA::PrivateKey k;
    CryptoPP::ByteQueue q;
    q.Put(kTestExeSigningPrivateKeyDer, kTestExeSigningPrivateKeyDerSize);
    q.MessageEnd();
    k.Load(q);
    return k;
  }();
  return key;
}

Bytes StubImage() {
  PeRecipe recipe;
  recipe.sections = {{".text", PatternBytes(0x600, 3)}, {".rdata", PatternBytes(0x200, 5)}};
  return BuildPe(recipe).bytes;
}

// Lines of the signature check itself (the attachment readers it calls trace too).
std::vector<std::string> SignatureLines(const TraceCapture& trace) {
  std::vector<std::string> out;
  for (const auto& l : trace.lines())
    if (l.find("Signature not valid") != std::string::npos) out.push_back(l);
  return out;
}

class FileSignatureTest : public ::testing::Test {
 protected:
  std::wstring Installer() {
    const std::wstring path = dir_.File(L"installer.exe");
    std::string error;
    EXPECT_TRUE(WriteSignedInstaller(StubImage(), PatternBytes(5000, 9), "silent", FileKeySigner(ExeKey()), path, &error))
        << error;
    return path;
  }
  // A file signed over its whole prefix, with a custom record text when given.
  std::wstring WholePrefix(const Bytes& prefix, const std::string& record = "") {
    Bytes file = prefix;
    if (record.empty()) {
      std::string error;
      EXPECT_TRUE(AppendWholePrefixSignature(&file, FileKeySigner(ExeKey()), &error)) << error;
    } else {
      const Bytes att = MakeAttachment("_SG2", Bytes(record.begin(), record.end()));
      file.insert(file.end(), att.begin(), att.end());
    }
    const std::wstring path = dir_.File(L"whole.exe");
    EXPECT_TRUE(WriteWholeFile(path, file));
    return path;
  }
  static void FlipByte(const std::wstring& path, size_t offset) {
    Bytes b;
    ASSERT_TRUE(ReadWholeFile(path, &b));
    ASSERT_LT(offset, b.size());
    b[offset] ^= 0x01;
    ASSERT_TRUE(WriteWholeFile(path, b));
  }
  TempDir dir_;
};

TEST_F(FileSignatureTest, InstallerVerifiesOnTheHeaderRangeAttempt) {
  const std::wstring path = Installer();
  TraceCapture trace;
  EXPECT_TRUE(VerifyFileSignature(path, false));
  EXPECT_FALSE(VerifyFileSignatureAttempt(path, false));
  EXPECT_TRUE(VerifyFileSignatureAttempt(path, true));
  EXPECT_TRUE(SignatureLines(trace).empty());
}

TEST_F(FileSignatureTest, WholePrefixSignatureVerifiesOnTheFirstAttempt) {
  const std::wstring path = WholePrefix(StubImage());
  EXPECT_TRUE(VerifyFileSignatureAttempt(path, false));
  EXPECT_TRUE(VerifyFileSignature(path, false));
}

TEST_F(FileSignatureTest, ChangedHeaderRangeFieldsStillVerify) {
  const std::wstring path = Installer();
  Bytes b;
  ASSERT_TRUE(ReadWholeFile(path, &b));
  const uint32_t nt = b[0x3C] | (b[0x3D] << 8);
  put32(b, nt + 88, 0x12345678);       // CheckSum
  put32(b, nt + 152, 0xDEAD);          // certificate-table entry
  put32(b, nt + 156, 0xBEEF);
  ASSERT_TRUE(WriteWholeFile(path, b));
  EXPECT_TRUE(VerifyFileSignature(path, false));
}

TEST_F(FileSignatureTest, ChangedCodeByteFailsWithExactlyOneTrace) {
  const std::wstring path = Installer();
  FlipByte(path, 0x400 + 17);
  TraceCapture trace;
  EXPECT_FALSE(VerifyFileSignature(path, false));
  ASSERT_EQ(SignatureLines(trace).size(), 1u);
  EXPECT_EQ(SignatureLines(trace)[0], "Signature not valid: VerifierFilter: digital signature not valid\n");
}

TEST_F(FileSignatureTest, ChangedByteAfterTheRecordDoesNotMatter) {
  const std::wstring path = Installer();
  Bytes b;
  ASSERT_TRUE(ReadWholeFile(path, &b));
  FlipByte(path, b.size() - 28 - 100);  // inside LOAD, the last attachment
  EXPECT_TRUE(VerifyFileSignature(path, false));
}

struct RefusalCase {
  const char* name;
  std::string record;  // empty: no chain at all
};

class FileSignatureRefusal : public FileSignatureTest,
                             public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(FileSignatureRefusal, IsFalseWithoutTrace) {
  std::wstring path;
  if (GetParam().record.empty()) {
    path = dir_.File(L"plain.exe");
    ASSERT_TRUE(WriteWholeFile(path, StubImage()));
  } else {
    path = WholePrefix(StubImage(), GetParam().record);
  }
  TraceCapture trace;
  EXPECT_FALSE(VerifyFileSignature(path, false));
  EXPECT_TRUE(SignatureLines(trace).empty()) << trace.Joined();
}

INSTANTIATE_TEST_SUITE_P(Records, FileSignatureRefusal,
                         ::testing::Values(RefusalCase{"NoChain", ""},
                                           RefusalCase{"EmptySign", "{\"sign\":\"\"}"},
                                           RefusalCase{"NumberSign", "{\"sign\":12}"},
                                           RefusalCase{"NoSignMember", "{\"other\":\"00\"}"},
                                           RefusalCase{"NotAnObject", "[\"00\"]"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSignatureTest, OddDigitCountIgnoresTheLastDigit) {
  Bytes file = StubImage();
  std::string error;
  ASSERT_TRUE(AppendWholePrefixSignature(&file, FileKeySigner(ExeKey()), &error));
  // Rebuild the record with one extra digit; the signed prefix is unchanged.
  std::vector<uint8_t> signature;
  ASSERT_TRUE(SignFilePrefix(FileKeySigner(ExeKey()), StubImage(), StubImage().size(), {}, &signature, &error));
  std::string record = MakeSignatureRecord(signature);
  record.insert(record.size() - 2, "f");
  const std::wstring path = WholePrefix(StubImage(), record);
  EXPECT_TRUE(VerifyFileSignature(path, false));
}

// The signature must be exactly one signature long: bytes after a valid one
// are not ignored.
TEST_F(FileSignatureTest, SignatureWithTrailingBytesFails) {
  std::string error;
  std::vector<uint8_t> signature;
  ASSERT_TRUE(SignFilePrefix(FileKeySigner(ExeKey()), StubImage(), StubImage().size(), {}, &signature, &error));
  signature.push_back(0);
  EXPECT_FALSE(VerifyFileSignature(WholePrefix(StubImage(), MakeSignatureRecord(signature)), false));
}

// A check on a second thread answers what the direct call answers, and its
// trace lines appear only when it is finished, on the finishing thread.
TEST_F(FileSignatureTest, DeferredCheckReportsItsVerdictAndLinesAtFinish) {
  for (const bool tampered : {false, true}) {
    const std::wstring path = Installer();
    if (tampered) FlipByte(path, 0x400 + 17);
    TraceCapture trace;
    DeferredSignatureCheck check;
    ASSERT_TRUE(check.Start(path));
    EXPECT_TRUE(check.started());
    check.Wait();  // done, and its lines still held
    EXPECT_TRUE(trace.lines().empty());
    EXPECT_EQ(check.Finish(), !tampered);
    EXPECT_EQ(SignatureLines(trace).size(), tampered ? 1u : 0u);
    EXPECT_FALSE(check.started());
    trace.Clear();
    DeferredSignatureCheck dropped;  // abandoned: nothing is traced
    ASSERT_TRUE(dropped.Start(path));
    dropped.Abandon();
    EXPECT_TRUE(trace.lines().empty());
  }
}

TEST_F(FileSignatureTest, TamperedNonPeFileFailsBothAttemptsQuietly) {
  // Not a PE: the retry cannot compute header ranges and refuses without a trace.
  const std::wstring path = WholePrefix(PatternBytes(511, 4));
  FlipByte(path, 10);
  TraceCapture trace;
  EXPECT_FALSE(VerifyFileSignature(path, false));
  EXPECT_TRUE(SignatureLines(trace).empty());
}

}  // namespace
