// Key certificates against the built-in root: acceptance, the four refusals
// with their messages, and keys that do not decode.
#include <gtest/gtest.h>

#include <cryptopp/rsa.h>

#include "integrity/key_certificate.h"
#include "test_keys.h"
#include "test_support.h"
#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/key_cert_writer.h"

// Shared fixtures, defined in bundle_file_test.cc.
namespace bundle_test {
const CryptoPP::RSA::PrivateKey& RootKey();
const CryptoPP::RSA::PrivateKey& SigningKey();
Bytes SigningKeyDer();
Bytes Certificate(const std::string& goal);
}  // namespace bundle_test

using namespace bundle_test;
using Lines = std::vector<std::string>;

namespace {

struct Checked {
  bool accepted;
  Lines trace;
};

Checked Check(const Bytes& cert, const std::string& goal = "IBND", int32_t length = -1) {
  TraceCapture trace;
  auto key = CheckKeyCertificate(cert.data(), length < 0 ? static_cast<int32_t>(cert.size()) : length, goal);
  if (key) {
    EXPECT_EQ(SigningKey().GetModulus(), key->GetModulus());
  }
  return {key != nullptr, trace.lines()};
}

TEST(KeyCertificateTest, AcceptsExpiredAndTrailingBytes) {
  EXPECT_TRUE(Check(Certificate("IBND")).accepted);
  EXPECT_TRUE(Check(MakeKeyCertificate(FileKeySigner(RootKey()), "IBND", -86400, SigningKeyDer())).accepted);
  Bytes longer = Certificate("IBND");
  longer.resize(longer.size() + 7, 0xAB);
  const Checked c = Check(longer);
  EXPECT_TRUE(c.accepted);
  EXPECT_TRUE(c.trace.empty());
}

TEST(KeyCertificateTest, AcceptsTheKeySetsOwnCertificate) {
  CryptoPP::RSA::PrivateKey signing;
  ASSERT_TRUE(DecodePrivateKey(Bytes(kTestBundleSigningPrivateKeyDer,
                                     kTestBundleSigningPrivateKeyDer + kTestBundleSigningPrivateKeyDerSize),
                               &signing));
  auto key = CheckKeyCertificate(kTestBundleSigningCert, kTestBundleSigningCertSize, "IBND");
  ASSERT_NE(nullptr, key);
  EXPECT_EQ(signing.GetModulus(), key->GetModulus());
}

TEST(KeyCertificateTest, ShortRecordIsRefusedSilently) {
  const Bytes cert = Certificate("AVSG");
  const Checked c = Check(cert, "IBND", 15);
  EXPECT_FALSE(c.accepted);
  EXPECT_TRUE(c.trace.empty());
}

TEST(KeyCertificateTest, WrongGoalIsReportedBeforeTheLengths) {
  const Bytes cert = Certificate("AVSG");
  for (int32_t length : {static_cast<int32_t>(cert.size()), 16}) {
    const Checked c = Check(cert, "IBND", length);
    EXPECT_FALSE(c.accepted);
    EXPECT_EQ((Lines{"Public key goal is AVSG, should be IBND\n"}), c.trace);
  }
}

// Length fields that do not fit, in threes: fits exactly, one over, negative.
struct LengthCase {
  const char* label;
  std::function<void(Bytes&)> edit;
  const char* trace;  // nullptr: accepted
};

class CertificateLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(CertificateLengthTest, RefusesWhatDoesNotFit) {
  Bytes cert = Certificate("IBND");
  GetParam().edit(cert);
  const Checked c = Check(cert);
  EXPECT_EQ(GetParam().trace == nullptr, c.accepted);
  if (GetParam().trace) {
    EXPECT_EQ((Lines{GetParam().trace}), c.trace);
  }
}

size_t SignLengthAt(const Bytes& cert) { return 12 + (cert[8] | cert[9] << 8); }

INSTANTIATE_TEST_SUITE_P(
    Lengths, CertificateLengthTest,
    ::testing::Values(
        LengthCase{"KeyOneOver", [](Bytes& c) { put32(c, 8, static_cast<uint32_t>(c.size() - 11)); },
                   "Public key is truncated\n"},
        LengthCase{"KeyNegative", [](Bytes& c) { put32(c, 8, 0x80000000u); }, "Public key is truncated\n"},
        LengthCase{"KeyFillsRecordNoSignField",
                   [](Bytes& c) { put32(c, 8, static_cast<uint32_t>(c.size() - 12)); },
                   "Public key sign is truncated\n"},
        LengthCase{"SignOneOver", [](Bytes& c) { put32(c, SignLengthAt(c), static_cast<uint32_t>(c.size() - SignLengthAt(c) - 3)); },
                   "Public key sign is truncated\n"},
        LengthCase{"SignNegative", [](Bytes& c) { put32(c, SignLengthAt(c), 0xFFFFFFFFu); },
                   "Public key sign is truncated\n"},
        LengthCase{"SignFitsExactly", [](Bytes&) {}, nullptr}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.label); });

// Any changed signed byte breaks the root signature.
class CertificateTamperTest : public ::testing::TestWithParam<size_t> {};

TEST_P(CertificateTamperTest, ChangedByteFailsTheRootSignature) {
  Bytes cert = Certificate("IBND");
  const size_t at = GetParam() < 1000 ? GetParam() : cert.size() - 1;
  cert[at] ^= 0x01;
  const std::string goal(cert.begin(), cert.begin() + 4);  // a changed goal is expected as such
  const Checked c = Check(cert, goal);
  EXPECT_FALSE(c.accepted);
  EXPECT_EQ((Lines{"Public key sign is not valid"}), c.trace);
}

// Goal, expiry, key, and (1000) the signature's last byte.
INSTANTIATE_TEST_SUITE_P(Bytes, CertificateTamperTest, ::testing::Values(3u, 4u, 7u, 40u, 1000u));

TEST(KeyCertificateTest, CertificateFromAnotherRootIsNotValid) {
  const Checked c = Check(MakeKeyCertificate(FileKeySigner(SigningKey()), "IBND", 0, SigningKeyDer()));
  EXPECT_FALSE(c.accepted);
  EXPECT_EQ((Lines{"Public key sign is not valid"}), c.trace);
}

TEST(KeyCertificateTest, SignedBytesThatAreNoKeyAreRefusedWithoutThrowing) {
  const Checked c = Check(MakeKeyCertificate(FileKeySigner(RootKey()), "IBND", 0, Bytes{'n', 'o', 'p', 'e'}));
  EXPECT_FALSE(c.accepted);
  EXPECT_EQ((Lines{"Public key is not a valid RSA key\n"}), c.trace);
}

}  // namespace
