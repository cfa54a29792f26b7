#include "integrity/file_signature.h"

#include <cryptopp/filters.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <exception>
#include <memory>
#include <vector>

#include "bundle/attachment.h"
#include "bundle/pe_layout.h"
#include "diagnostics/trace.h"
#include "integrity/builtin_keys.h"
#include "util/hex.h"
#include "util/platform.h"

namespace {

constexpr size_t kReadBuffer = 65536;
constexpr uint32_t kMinHeaderRangeLength = 512;

enum class Outcome { kValid, kRefused, kFailed };

// The "_SG2" record as both attempts use it: read and parsed once.
struct SignatureRecord {
  bool hasMembers = false;
  uint32_t signedLength = 0;
  std::string sign;  // hex digits; empty when there is nothing to verify
};

// Reading and parsing the record: any failure here (an allocation failure,
// say) is a plain refusal, never an exception for the caller.
SignatureRecord LoadSignatureRecord(const std::wstring& path) {
  SignatureRecord record;
  try {
    std::map<std::string, JsonValue> members = ReadSignatureRecord(path, &record.signedLength);
    record.hasMembers = !members.empty();
    record.sign = members["sign"].AsString();
  } catch (...) {
    record.sign.clear();
  }
  return record;
}

// Feeds `count` bytes from the file's current position to the verifier.
// Returns false when the file ends early.
bool FeedFile(File& file, CryptoPP::HashTransformation& sink, std::vector<uint8_t>& buffer,
              uint64_t count) {
  while (count > 0) {
    const size_t want = static_cast<size_t>(count < buffer.size() ? count : buffer.size());
    const size_t got = file.Read(buffer.data(), want);
    if (got == 0) return false;
    sink.Update(buffer.data(), got);
    count -= got;
  }
  return true;
}

// One verification attempt. Exceptions of the attempt (bad signature, short
// PE read, library errors) come back as kFailed with their text in `error`.
Outcome Attempt(const std::wstring& path, const SignatureRecord& record,
                bool excludeHeaderRanges, std::string* error) {
  if (record.sign.empty()) return Outcome::kRefused;
  const uint32_t signedLength = record.signedLength;
  std::vector<uint8_t> signature, buffer;
  File file;
  try {
    if (!file.Open(path, FileAccess::kRead)) return Outcome::kRefused;
    const size_t signatureLength = record.sign.size() / 2;
    signature.resize(signatureLength);
    buffer.resize(kReadBuffer);
    HexToBytes(signature.data(), record.sign.c_str(), static_cast<int32_t>(signatureLength));
  } catch (...) {
    return Outcome::kRefused;
  }

  try {
    CryptoPP::RSA::PublicKey key;
    CryptoPP::ByteQueue keyBytes;
    const TrustedKeys& trusted = ActiveTrustedKeys();
    keyBytes.Put(trusted.exe_signing, trusted.exe_signing_size);
    keyBytes.MessageEnd();
    key.Load(keyBytes);
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(key);
    const std::unique_ptr<CryptoPP::PK_MessageAccumulator> message(
        verifier.NewVerificationAccumulator());

    uint64_t remaining = signedLength;
    if (excludeHeaderRanges) {
      if (signedLength < kMinHeaderRangeLength) return Outcome::kRefused;
      RangeList ranges;
      if (!CollectVolatileHeaderRanges(file, &ranges) || ranges.size() < 2)
        return Outcome::kRefused;
      if (!file.Seek(0)) return Outcome::kRefused;
      uint64_t pos = 0;
      for (const HeaderRange& range : ranges) {
        const uint64_t offset = range.first, length = range.second;
        // Ranges must ascend and lie inside the signed data: a signed length
        // inside the header area would leave nothing meaningful to verify.
        if (offset < pos || offset + length > signedLength) return Outcome::kRefused;
        if (!FeedFile(file, *message, buffer, offset - pos) ||
            !file.Seek(static_cast<int64_t>(offset + length))) {
          *error = "Unable to read PE file";
          return Outcome::kFailed;
        }
        pos = offset + length;
      }
      remaining = signedLength - pos;
    }
    // A file shorter than the signed length just ends the stream: the
    // signature then fails to verify.
    FeedFile(file, *message, buffer, remaining);
    // Exactly one signature's length, so that no byte of the record is ignored.
    using Failed = CryptoPP::SignatureVerificationFilter::SignatureVerificationFailed;
    if (signature.size() != verifier.SignatureLength()) throw Failed();
    verifier.InputSignature(*message, signature.data(), signature.size());
    if (!verifier.VerifyAndRestart(*message)) throw Failed();
    return Outcome::kValid;
  } catch (const std::exception& e) {
    *error = e.what();
    return Outcome::kFailed;
  } catch (...) {
    *error = "unknown error";
    return Outcome::kFailed;
  }
}

// Whole prefix first unless told otherwise, then with the header ranges left
// out; only the failure of the last attempt is traced.
FileSignatureReport::Verdict Decide(const std::wstring& path, const SignatureRecord& record,
                                    bool excludeHeaderRanges) {
  std::string error;
  if (!excludeHeaderRanges) {
    switch (Attempt(path, record, false, &error)) {
      case Outcome::kValid:
        return FileSignatureReport::Verdict::kWholePrefix;
      case Outcome::kRefused:
        return FileSignatureReport::Verdict::kInvalid;
      case Outcome::kFailed:
        break;
    }
  }
  error.clear();
  switch (Attempt(path, record, true, &error)) {
    case Outcome::kValid:
      return FileSignatureReport::Verdict::kHeaderRanges;
    case Outcome::kRefused:
      break;
    case Outcome::kFailed:
      DebugTrace("Signature not valid: %s\n", error.c_str());
      break;
  }
  return FileSignatureReport::Verdict::kInvalid;
}

}  // namespace

std::map<std::string, JsonValue> ReadSignatureRecord(const std::wstring& path,
                                                     uint32_t* signedLength) {
  std::string text = ReadSignedFileAttachment(path, "_SG2", signedLength, 0);
  if (text.empty()) text = ReadSignedFileAttachment(path, "_SG2", signedLength, 1);
  if (text.empty()) return {};
  JsonValue value;
  value.Parse(text);
  return value.AsObject();
}

bool VerifyFileSignatureAttempt(const std::wstring& path, bool excludeHeaderRanges) {
  std::string error;
  return Attempt(path, LoadSignatureRecord(path), excludeHeaderRanges, &error) == Outcome::kValid;
}

bool VerifyFileSignature(std::wstring path, bool excludeHeaderRanges) {
  return Decide(path, LoadSignatureRecord(path), excludeHeaderRanges) !=
         FileSignatureReport::Verdict::kInvalid;
}

FileSignatureReport CheckFileSignature(const std::wstring& path) {
  const SignatureRecord record = LoadSignatureRecord(path);
  FileSignatureReport report;
  report.hasRecord = record.hasMembers;
  report.signedLength = record.signedLength;
  report.verdict = Decide(path, record, false);
  return report;
}
