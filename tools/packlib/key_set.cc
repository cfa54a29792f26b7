#include "tools/packlib/key_set.h"

#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>

#include <climits>
#include <cwchar>
#include <stdexcept>
#include <ctime>
#include <exception>

#include "tools/packlib/file_io.h"
#include "tools/packlib/key_cert_writer.h"
#include "util/platform.h"
#include "util/text_conv.h"

const wchar_t kRootPublicKeyFile[] = L"root.pub.der";
const wchar_t kRootPrivateKeyFile[] = L"root.key.der";
const wchar_t kExeSigningPublicKeyFile[] = L"exe-signing.pub.der";
const wchar_t kExeSigningPrivateKeyFile[] = L"exe-signing.key.der";
const wchar_t kBundleSigningPublicKeyFile[] = L"bundle-signing.pub.der";
const wchar_t kBundleSigningPrivateKeyFile[] = L"bundle-signing.key.der";
const wchar_t kBundleSigningCertFile[] = L"bundle-signing.cert";
const wchar_t kBundleKeyTableFile[] = L"bundle-key.bin";

namespace {

const wchar_t* const kAllFiles[] = {
    kRootPublicKeyFile,          kRootPrivateKeyFile,          kExeSigningPublicKeyFile,
    kExeSigningPrivateKeyFile,   kBundleSigningPublicKeyFile,  kBundleSigningPrivateKeyFile,
    kBundleSigningCertFile,      kBundleKeyTableFile,
};

// Sizes of the SubjectPublicKeyInfo the stub embeds; a mismatch means the
// key is not of the kind the stub expects.
constexpr size_t kRootPublicKeyDerSize = 294;
constexpr size_t kExeSigningPublicKeyDerSize = 548;
constexpr int32_t kCertificateLifetimeSeconds = 10 * 365 * 24 * 3600 + 2 * 24 * 3600;

template <class Key>
std::vector<uint8_t> DerOf(const Key& key) {
  CryptoPP::ByteQueue queue;
  key.Save(queue);  // PKCS #8 for private keys, SubjectPublicKeyInfo for public ones
  std::vector<uint8_t> out(static_cast<size_t>(queue.MaxRetrievable()));
  queue.Get(out.data(), out.size());
  return out;
}

CryptoPP::RSA::PrivateKey NewKey(CryptoPP::RandomNumberGenerator& rng, unsigned bits,
                                 unsigned exponent) {
  CryptoPP::RSA::PrivateKey key;
  key.Initialize(rng, bits, CryptoPP::Integer(exponent));
  if (!key.Validate(rng, 3)) throw std::runtime_error("generated key failed validation");
  return key;
}

int32_t CertificateExpiry() {
  const int64_t expiry = static_cast<int64_t>(std::time(nullptr)) + kCertificateLifetimeSeconds;
  return expiry > INT32_MAX ? INT32_MAX : static_cast<int32_t>(expiry);
}

}  // namespace

std::wstring KeySetFile(const std::wstring& dir, const wchar_t* name) {
  if (dir.empty()) return name;
  const wchar_t last = dir.back();
  return (last == L'/' || last == L'\\') ? dir + name : dir + L"/" + name;
}

bool GenerateKeySet(const std::wstring& dir, std::string* error) {
  for (const wchar_t* name : kAllFiles) {
    File existing;
    if (existing.Open(KeySetFile(dir, name), FileAccess::kRead)) {
      *error = "the folder already holds a key set; refusing to overwrite it";
      return false;
    }
  }
  std::vector<std::wstring> written;
  auto write = [&](const wchar_t* name, const std::vector<uint8_t>& bytes) {
    const std::wstring path = KeySetFile(dir, name);
    if (!WriteFileBytes(path, bytes)) {
      throw std::runtime_error("cannot write " + std::string(name, name + std::wcslen(name)));
    }
    written.push_back(path);
  };
  try {
    CryptoPP::AutoSeededRandomPool rng;
    const CryptoPP::RSA::PrivateKey root = NewKey(rng, 2048, 65537);
    const CryptoPP::RSA::PrivateKey exe = NewKey(rng, 4096, 17);
    const CryptoPP::RSA::PrivateKey bundle = NewKey(rng, 2048, 65537);

    const std::vector<uint8_t> rootPub = DerOf(CryptoPP::RSA::PublicKey(root));
    const std::vector<uint8_t> exePub = DerOf(CryptoPP::RSA::PublicKey(exe));
    const std::vector<uint8_t> bundlePub = DerOf(CryptoPP::RSA::PublicKey(bundle));
    if (rootPub.size() != kRootPublicKeyDerSize || exePub.size() != kExeSigningPublicKeyDerSize) {
      throw std::runtime_error("unexpected public key encoding size");
    }
    std::vector<uint8_t> table(kBundleKeyTableBytes);
    rng.GenerateBlock(table.data(), table.size());

    write(kRootPublicKeyFile, rootPub);
    write(kRootPrivateKeyFile, DerOf(root));
    write(kExeSigningPublicKeyFile, exePub);
    write(kExeSigningPrivateKeyFile, DerOf(exe));
    write(kBundleSigningPublicKeyFile, bundlePub);
    write(kBundleSigningPrivateKeyFile, DerOf(bundle));
    const std::vector<uint8_t> cert =
        MakeKeyCertificate(root, "IBND", CertificateExpiry(), bundlePub);
    if (cert.empty()) throw std::runtime_error("cannot sign the bundle-signing key certificate");
    write(kBundleSigningCertFile, cert);
    write(kBundleKeyTableFile, table);
    return true;
  } catch (const std::exception& e) {
    for (const std::wstring& path : written) RemoveFile(path);
    *error = e.what();
    return false;
  }
}

bool LoadPrivateKeyFile(const std::wstring& path, CryptoPP::RSA::PrivateKey* key,
                        std::string* error) {
  std::vector<uint8_t> der;
  if (!ReadFileBytes(path, &der)) {
    *error = "cannot read " + WideToMultiByte(path);
    return false;
  }
  try {
    CryptoPP::ArraySource source(der.data(), der.size(), true);
    key->Load(source);
    CryptoPP::AutoSeededRandomPool rng;
    if (!key->Validate(rng, 1)) {
      *error = "the private key is not a valid RSA key";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    *error = WideToMultiByte(path) + " is not a PKCS #8 RSA private key: " + e.what();
    return false;
  }
}

bool LoadExeSigningKey(const std::wstring& dir, CryptoPP::RSA::PrivateKey* key,
                       std::string* error) {
  if (!LoadPrivateKeyFile(KeySetFile(dir, kExeSigningPrivateKeyFile), key, error)) return false;
  // The stub embeds a 4096-bit key with exponent 17; any other key cannot
  // produce a signature it accepts.
  if (key->GetModulus().BitCount() != 4096 || key->GetPublicExponent() != 17) {
    *error = "exe-signing.key.der is not a 4096-bit RSA key with exponent 17";
    return false;
  }
  return true;
}
