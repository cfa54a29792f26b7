#include "tools/packlib/exe_signer.h"

#include <memory>

#include "tools/packlib/attachment_writer.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/pe_bundle_section.h"
#include "util/platform.h"

namespace {

// The verifier refuses header-range mode below this signed length.
constexpr uint64_t kMinHeaderRangeSignedLength = 512;
// The verifier computes header ranges only for images of at most 15 sections.
constexpr size_t kMaxSignedSections = 15;

bool Refuse(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

std::string PlaceholderRecord(size_t size) {
  const std::string head = "{\"sign\":\"";
  const std::string tail = "\"}";
  return head + std::string(size - head.size() - tail.size(), '0') + tail;
}

bool SignRecordAt(std::vector<uint8_t>* image, uint64_t dataOffset, const RangeList& excluded,
                  const PrivateKeySigner& key, std::string* error) {
  std::vector<uint8_t> signature;
  if (!SignFilePrefix(key, *image, dataOffset, excluded, &signature, error)) return false;
  if (!RewriteAttachmentData(image, dataOffset, MakeSignatureRecord(signature))) {
    return Refuse(error, "internal error: signature record placeholder not found");
  }
  return true;
}

// Writes `image` and reads the header ranges back from the written file, so
// that the signer uses exactly the ranges the stub's verifier will compute.
bool WriteAndCollectRanges(const std::vector<uint8_t>& image, const std::wstring& path,
                           RangeList* ranges, std::string* error) {
  if (!WriteFileBytes(path, image)) return Refuse(error, "cannot write the output file");
  File file;
  if (!file.Open(path, FileAccess::kRead)) return Refuse(error, "cannot reopen the output file");
  if (!CollectVolatileHeaderRanges(file, ranges) || ranges->size() < 2) {
    return Refuse(error, "cannot compute the volatile header ranges of the output file");
  }
  return true;
}

}  // namespace

bool SignFilePrefix(const PrivateKeySigner& key, const std::vector<uint8_t>& file,
                    uint64_t signedLength, const RangeList& excluded,
                    std::vector<uint8_t>* signature, std::string* error) {
  if (signedLength > file.size()) return Refuse(error, "signed length beyond the end of the file");
  // Same walk as the verifier: the bytes between ranges, then the rest.
  uint64_t pos = 0;
  for (const HeaderRange& range : excluded) {
    const uint64_t end = static_cast<uint64_t>(range.first) + range.second;
    if (range.first < pos || end > signedLength) {
      return Refuse(error, "header ranges out of order or beyond the signed length");
    }
    pos = end;
  }
  std::unique_ptr<SignatureAccumulator> hash = key.Begin(SignatureScheme::kPkcs1Sha1);
  pos = 0;
  for (const HeaderRange& range : excluded) {
    hash->Update(file.data() + pos, range.first - pos);
    pos = static_cast<uint64_t>(range.first) + range.second;
  }
  hash->Update(file.data() + pos, static_cast<size_t>(signedLength - pos));
  return hash->Finish(signature, error);
}

std::string MakeSignatureRecord(const std::vector<uint8_t>& signature) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(signature.size() * 2);
  for (uint8_t b : signature) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return "{\"sign\":\"" + hex + "\"}";
}

size_t SignatureRecordSize(const PrivateKeySigner& key) {
  return 11 + 2 * key.SignatureLength();
}

bool AppendWholePrefixSignature(std::vector<uint8_t>* file, const PrivateKeySigner& key,
                                std::string* error) {
  std::vector<uint8_t> signature;
  if (!SignFilePrefix(key, *file, file->size(), RangeList(), &signature, error)) return false;
  if (!AppendAttachment(file, "_SG2", MakeSignatureRecord(signature))) {
    return Refuse(error, "the file is too large to carry a signature record");
  }
  return true;
}

bool WriteSignedInstaller(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& setup,
                          const std::string& typeText, const PrivateKeySigner& key,
                          const std::wstring& outPath, std::string* error) {
  PeFacts facts;
  if (!ReadPeFacts(stub, &facts, error)) return false;
  if (facts.sections.size() + 1 > kMaxSignedSections) {
    return Refuse(error, "the stub has " + std::to_string(facts.sections.size()) +
                             " sections; with its bundle it may have at most 15 (strip it)");
  }

  // Chain, from its start: _SG1, _SG2, TYPE, LOAD. Both records are
  // placeholders of their final size until the file layout is final.
  const size_t recordSize = SignatureRecordSize(key);
  std::vector<uint8_t> chain;
  if (!AppendAttachment(&chain, "_SG1", PlaceholderRecord(recordSize)) ||
      !AppendAttachment(&chain, "_SG2", PlaceholderRecord(recordSize)) ||
      !AppendAttachment(&chain, "TYPE", typeText) ||
      !AppendAttachment(&chain, "LOAD", setup.data(), setup.size())) {
    return Refuse(error, "the setup program is too large");
  }
  std::vector<uint8_t> image(stub);
  if (!AddBundleSection(&image, chain, error)) return false;

  const uint64_t sg1Data = image.size() - chain.size();
  const uint64_t sg2Data = sg1Data + recordSize + kTrailerSize;
  if (sg2Data < kMinHeaderRangeSignedLength) return Refuse(error, "the stub is too small");

  RangeList ranges;
  bool ok = SignRecordAt(&image, sg1Data, RangeList(), key, error) &&
            WriteAndCollectRanges(image, outPath, &ranges, error) &&
            SignRecordAt(&image, sg2Data, ranges, key, error);
  if (ok && !WriteFileBytes(outPath, image)) ok = Refuse(error, "cannot write the output file");
  if (!ok) RemoveFile(outPath);
  return ok;
}
