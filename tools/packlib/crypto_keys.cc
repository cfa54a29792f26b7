#include "tools/packlib/crypto_keys.h"

#include <cryptopp/queue.h>

#include "tools/packlib/file_io.h"

namespace {
template <typename Key>
bool DecodeKey(const std::vector<uint8_t>& der, Key* key) {
  try {
    CryptoPP::ByteQueue queue;
    queue.Put(der.data(), der.size());
    queue.MessageEnd();
    key->Load(queue);
    return queue.IsEmpty();  // trailing bytes mean this is not one key
  } catch (...) {
    return false;
  }
}
}  // namespace

bool DecodePrivateKey(const std::vector<uint8_t>& der, CryptoPP::RSA::PrivateKey* key) {
  return DecodeKey(der, key);
}

bool DecodePublicKey(const std::vector<uint8_t>& der, CryptoPP::RSA::PublicKey* key) {
  return DecodeKey(der, key);
}

bool LoadPrivateKey(const std::wstring& path, CryptoPP::RSA::PrivateKey* key) {
  std::vector<uint8_t> der;
  return ReadFileBytes(path, &der) && DecodePrivateKey(der, key);
}

bool LoadPublicKey(const std::wstring& path, CryptoPP::RSA::PublicKey* key) {
  std::vector<uint8_t> der;
  return ReadFileBytes(path, &der) && DecodePublicKey(der, key);
}

std::vector<uint8_t> EncodePublicKey(const CryptoPP::RSA::PublicKey& key) {
  CryptoPP::ByteQueue queue;
  key.Save(queue);
  std::vector<uint8_t> der(static_cast<size_t>(queue.MaxRetrievable()));
  queue.Get(der.data(), der.size());
  return der;
}
