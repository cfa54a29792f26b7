#include "tools/qxpack/stub_keys.h"

#include <cryptopp/sha.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "integrity/key_block.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_set.h"
#include "tools/packlib/pe_bundle_section.h"
#include "util/byte_reader.h"
#include "util/text_conv.h"

namespace {

// The marker that starts every key block; it occurs once in a stub.
const uint8_t kMarker[kKeyBlockMarkerSize] = {'N', 'o', 'r', 'v', 'a', 'n', 'e', 'K',
                                              'e', 'y', 'B', 'l', 'o', 'c', 'k', '1'};

const char* const kHalfNames[] = {"root key", "executable signing key", "descrambler table"};

const std::vector<uint8_t>* Half(const PublicKeyHalves& h, int i) {
  return i == 0 ? &h.root : i == 1 ? &h.exe_signing : &h.table;
}

}  // namespace

bool LoadPublicKeyHalves(const std::wstring& dir, PublicKeyHalves* halves, std::string* error) {
  const struct {
    const wchar_t* file;
    std::vector<uint8_t>* out;
  } parts[] = {{kRootPublicKeyFile, &halves->root},
               {kExeSigningPublicKeyFile, &halves->exe_signing},
               {kBundleKeyTableFile, &halves->table}};
  for (const auto& part : parts) {
    const std::wstring path = KeySetFile(dir, part.file);
    if (!ReadFileBytes(path, part.out) || part.out->empty()) {
      *error = "cannot read " + WideToMultiByte(path, false);
      return false;
    }
  }
  return true;
}

bool MakeKeyBlock(const PublicKeyHalves& halves, std::vector<uint8_t>* block, std::string* error) {
  const size_t total = halves.root.size() + halves.exe_signing.size() + halves.table.size();
  if (total > kKeyBlockCapacity) {
    *error = "does not fit the stub's key block: root key " +
             std::to_string(halves.root.size()) + ", executable signing key " +
             std::to_string(halves.exe_signing.size()) + " and descrambler table " +
             std::to_string(halves.table.size()) + " bytes, room for " +
             std::to_string(kKeyBlockCapacity);
    return false;
  }
  block->assign(kKeyBlockSize, 0);
  std::memcpy(block->data(), kMarker, sizeof kMarker);
  uint8_t* p = block->data() + kKeyBlockMarkerSize;
  ByteReader::StoreU32(p, kKeyBlockFormat);
  p += 4;
  for (int i = 0; i < 3; ++i, p += 4) ByteReader::StoreU32(p, static_cast<uint32_t>(Half(halves, i)->size()));
  for (int i = 0; i < 3; ++i) p = std::copy(Half(halves, i)->begin(), Half(halves, i)->end(), p);
  return true;
}

bool FindKeyBlock(const uint8_t* data, size_t size, size_t* offset, std::string* error) {
  const uint8_t* end = data + size;
  const uint8_t* first = std::search(data, end, kMarker, kMarker + sizeof kMarker);
  if (first == end) {
    *error = "no key block (a stub built before key blocks existed, or not a stub)";
    return false;
  }
  if (std::search(first + 1, end, kMarker, kMarker + sizeof kMarker) != end) {
    *error = "more than one key block marker";
    return false;
  }
  TrustedKeys keys;
  if (static_cast<size_t>(end - first) < kKeyBlockSize || !ParseKeyBlock(first, kKeyBlockSize, &keys)) {
    *error = "the key block is damaged";
    return false;
  }
  *offset = static_cast<size_t>(first - data);
  return true;
}

bool WriteKeyBlock(std::vector<uint8_t>* stub, const std::vector<uint8_t>& block, std::string* error) {
  size_t offset = 0;
  if (block.size() != kKeyBlockSize) {
    *error = "not a key block";
    return false;
  }
  if (!FindKeyBlock(stub->data(), stub->size(), &offset, error)) return false;
  std::copy(block.begin(), block.end(), stub->begin() + static_cast<std::ptrdiff_t>(offset));
  return true;
}

bool ReadStubKeyBlock(const std::string& path, std::vector<uint8_t>* block,
                      PublicKeyHalves* halves, bool* marked, std::string* error) {
  *marked = false;
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(MultiByteToWide(path), &bytes)) {
    *error = "cannot read " + path;
    return false;
  }
  // Only the stub proper: the setup program and bundles after it are not
  // what the stub trusts.
  PeFacts facts;
  size_t end = bytes.size();
  if (ReadPeFacts(bytes, &facts, nullptr) && !facts.sections.empty() &&
      facts.sections.back().name == ".QXBNDL")
    end = std::min<size_t>(end, facts.sections.back().pointerToRawData);
  size_t offset = 0;
  TrustedKeys keys;
  *marked = std::search(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end), kMarker,
                        kMarker + sizeof kMarker) != bytes.begin() + static_cast<std::ptrdiff_t>(end);
  if (!FindKeyBlock(bytes.data(), end, &offset, error)) return false;
  block->assign(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(offset + kKeyBlockSize));
  ParseKeyBlock(block->data(), block->size(), &keys);
  halves->root.assign(keys.root, keys.root + keys.root_size);
  halves->exe_signing.assign(keys.exe_signing, keys.exe_signing + keys.exe_signing_size);
  halves->table.assign(keys.table, keys.table + keys.table_size);
  return true;
}

std::vector<std::string> DifferingHalves(const PublicKeyHalves& a, const PublicKeyHalves& b) {
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i)
    if (*Half(a, i) != *Half(b, i)) names.push_back(kHalfNames[i]);
  return names;
}

std::vector<std::string> Fingerprints(const PublicKeyHalves& halves) {
  std::vector<std::string> lines;
  for (int i = 0; i < 3; ++i) {
    uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
    CryptoPP::SHA256().CalculateDigest(digest, Half(halves, i)->data(), Half(halves, i)->size());
    std::string line = std::string(kHalfNames[i]) + " SHA-256 ";
    for (uint8_t b : digest) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", b);
      line += hex;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
    out += names[i];
  }
  return out;
}
