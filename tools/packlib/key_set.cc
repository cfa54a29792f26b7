#include "tools/packlib/key_set.h"

#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>

#include <climits>
#include <cwchar>
#include <stdexcept>
#include <ctime>
#include <exception>

#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_cert_writer.h"
#include "tools/packlib/pkcs11_token.h"
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

const wchar_t kRootKeyUriFile[] = L"root.key.uri";
const wchar_t kExeSigningKeyUriFile[] = L"exe-signing.key.uri";
const wchar_t kBundleSigningKeyUriFile[] = L"bundle-signing.key.uri";

const wchar_t* const kAllFiles[] = {
    kRootPublicKeyFile,        kRootPrivateKeyFile,          kRootKeyUriFile,
    kExeSigningPublicKeyFile,  kExeSigningPrivateKeyFile,    kExeSigningKeyUriFile,
    kBundleSigningPublicKeyFile, kBundleSigningPrivateKeyFile, kBundleSigningKeyUriFile,
    kBundleSigningCertFile,    kBundleKeyTableFile,
};

struct RoleFiles {
  const char* what;   // the key's name in messages
  const char* label;  // its label in a token
  const wchar_t* der;
  const wchar_t* uri;
  const wchar_t* pub;
};

RoleFiles FilesOf(KeyRole role) {
  switch (role) {
    case KeyRole::kRoot:
      return {"root key", "root", kRootPrivateKeyFile, kRootKeyUriFile, kRootPublicKeyFile};
    case KeyRole::kExeSigning:
      return {"executable signing key", "exe-signing", kExeSigningPrivateKeyFile,
              kExeSigningKeyUriFile,
              kExeSigningPublicKeyFile};
    case KeyRole::kBundleSigning:
      break;
  }
  return {"bundle signing key", "bundle-signing", kBundleSigningPrivateKeyFile,
          kBundleSigningKeyUriFile,
          kBundleSigningPublicKeyFile};
}

std::string Narrow(const wchar_t* name) { return WideToMultiByte(name, false); }

bool Exists(const std::wstring& path) {
  File file;
  return file.Open(path, FileAccess::kRead);
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The URI in a .key.uri file: its first line without surrounding blanks.
bool ReadKeyUri(const std::wstring& path, std::string* uri) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes)) return false;
  std::string text(bytes.begin(), bytes.end());
  text = text.substr(0, text.find_first_of("\r\n"));
  const size_t first = text.find_first_not_of(" \t");
  *uri = first == std::string::npos
             ? ""
             : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
  return true;
}

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
        MakeKeyCertificate(FileKeySigner(root), "IBND", CertificateExpiry(), bundlePub);
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

bool OpenPrivateKey(const std::wstring& path, const std::wstring& public_path,
                    const std::string& what, std::unique_ptr<PrivateKeySigner>* signer,
                    std::string* error) {
  const std::string name = WideToMultiByte(path, false);
  if (!EndsWith(path, L".key.uri")) {
    CryptoPP::RSA::PrivateKey key;
    if (!LoadPrivateKeyFile(path, &key, error)) {
      *error = "the " + what + ": " + *error;
      return false;
    }
    *signer = std::make_unique<FileKeySigner>(key);
    return true;
  }
  std::string uri;
  if (!ReadKeyUri(path, &uri)) {
    *error = "the " + what + ": cannot read " + name;
    return false;
  }
  CryptoPP::RSA::PublicKey expected;
  if (public_path.empty() || !LoadPublicKey(public_path, &expected)) {
    *error = "the " + what + " (" + name + "): cannot load its public half " +
             WideToMultiByte(public_path, false);
    return false;
  }
  std::unique_ptr<PrivateKeySigner> token;
  if (!OpenTokenSigner(uri, &token, error)) {
    *error = "the " + what + " (" + name + "): " + *error;
    return false;
  }
  // Whatever key the URI finds must be the one the set's public half names,
  // or every signature made with it would be refused.
  const CryptoPP::RSA::PublicKey& found = token->PublicKey();
  if (found.GetModulus() != expected.GetModulus() ||
      found.GetPublicExponent() != expected.GetPublicExponent()) {
    *error = "the " + what + " (" + name + "): the key in the token is not the one " +
             WideToMultiByte(public_path, false) + " holds";
    return false;
  }
  *signer = std::move(token);
  return true;
}

bool OpenKeySetSigner(const std::wstring& dir, KeyRole role,
                      std::unique_ptr<PrivateKeySigner>* signer, std::string* error) {
  const RoleFiles files = FilesOf(role);
  const std::wstring der = KeySetFile(dir, files.der), uri = KeySetFile(dir, files.uri);
  const bool has_der = Exists(der), has_uri = Exists(uri);
  if (has_der && has_uri) {
    *error = "the " + std::string(files.what) + ": the key set holds both " + Narrow(files.der) +
             " and " + Narrow(files.uri) + "; keep one";
    return false;
  }
  if (!has_der && !has_uri) {
    *error = "the " + std::string(files.what) + ": the key set " + WideToMultiByte(dir, false) +
             " holds neither " + Narrow(files.der) + " nor " + Narrow(files.uri);
    return false;
  }
  if (!OpenPrivateKey(has_uri ? uri : der, KeySetFile(dir, files.pub), files.what, signer, error))
    return false;
  // The stub embeds a 4096-bit key with exponent 17; any other key cannot
  // produce a signature it accepts.
  const CryptoPP::RSA::PublicKey& key = (*signer)->PublicKey();
  if (role == KeyRole::kExeSigning &&
      (key.GetModulus().BitCount() != 4096 || key.GetPublicExponent() != 17)) {
    *error = "the executable signing key (" + Narrow(has_uri ? files.uri : files.der) +
             ") is not a 4096-bit RSA key with exponent 17";
    signer->reset();
    return false;
  }
  return true;
}

bool GenerateKeySetInToken(const std::wstring& dir, const std::string& uri, std::string* error) {
  for (const wchar_t* name : kAllFiles) {
    if (Exists(KeySetFile(dir, name))) {
      *error = "the folder already holds a key set; refusing to overwrite it";
      return false;
    }
  }
  TokenKeyGenerator generator;
  if (!generator.Open(uri, error)) return false;
  struct Made {
    KeyRole role;
    unsigned bits, exponent;
    CryptoPP::RSA::PublicKey key;
    std::string uri;
  } made[] = {{KeyRole::kRoot, 2048, 65537, {}, {}},
              {KeyRole::kExeSigning, 4096, 17, {}, {}},
              {KeyRole::kBundleSigning, 2048, 65537, {}, {}}};
  for (Made& m : made) {
    if (!generator.Generate(FilesOf(m.role).label, m.bits, m.exponent, &m.key, &m.uri, error))
      return false;
  }
  std::vector<std::wstring> written;
  auto write = [&](const wchar_t* name, const std::vector<uint8_t>& bytes) {
    const std::wstring path = KeySetFile(dir, name);
    if (!WriteFileBytes(path, bytes)) {
      *error = "cannot write " + Narrow(name);
      return false;
    }
    written.push_back(path);
    return true;
  };
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  const std::vector<uint8_t> rootPub = EncodePublicKey(made[0].key);
  const std::vector<uint8_t> exePub = EncodePublicKey(made[1].key);
  const std::vector<uint8_t> bundlePub = EncodePublicKey(made[2].key);
  std::vector<uint8_t> table(kBundleKeyTableBytes);
  CryptoPP::AutoSeededRandomPool rng;
  rng.GenerateBlock(table.data(), table.size());
  bool ok = rootPub.size() == kRootPublicKeyDerSize && exePub.size() == kExeSigningPublicKeyDerSize;
  if (!ok) *error = "unexpected public key encoding size";
  ok = ok && write(kRootPublicKeyFile, rootPub) &&
       write(kRootKeyUriFile, text(made[0].uri + "\n")) && write(kExeSigningPublicKeyFile, exePub) &&
       write(kExeSigningKeyUriFile, text(made[1].uri + "\n")) &&
       write(kBundleSigningPublicKeyFile, bundlePub) &&
       write(kBundleSigningKeyUriFile, text(made[2].uri + "\n")) &&
       write(kBundleKeyTableFile, table);
  if (ok) {
    // The certificate is signed through the token like any later one.
    std::unique_ptr<PrivateKeySigner> root;
    ok = OpenKeySetSigner(dir, KeyRole::kRoot, &root, error);
    std::vector<uint8_t> cert;
    if (ok) cert = MakeKeyCertificate(*root, "IBND", CertificateExpiry(), bundlePub, error);
    ok = ok && !cert.empty() && write(kBundleSigningCertFile, cert);
  }
  if (!ok) {
    for (const std::wstring& path : written) RemoveFile(path);
    return false;  // the generator removes the new keys from the token
  }
  generator.Keep();
  return true;
}
