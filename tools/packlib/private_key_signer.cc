#include "tools/packlib/private_key_signer.h"

#include <cryptopp/osrng.h>
#include <cryptopp/pssr.h>
#include <cryptopp/sha.h>

#include <exception>

namespace {

// Crypto++'s own accumulator, signed by the scheme's signer at the end.
template <class Signer>
class FileAccumulator : public SignatureAccumulator {
 public:
  explicit FileAccumulator(const CryptoPP::RSA::PrivateKey& key)
      : signer_(key), hash_(signer_.NewSignatureAccumulator(rng_)) {}

  void Update(const uint8_t* data, size_t n) override {
    if (hash_) hash_->Update(data, n);
  }

  bool Finish(std::vector<uint8_t>* signature, std::string* error) override {
    if (!hash_) {
      *error = "internal error: signature finished twice";
      return false;
    }
    try {
      std::vector<uint8_t> out(signer_.MaxSignatureLength());
      out.resize(signer_.Sign(rng_, hash_.release(), out.data()));  // Sign takes the accumulator
      signature->swap(out);
      return true;
    } catch (const std::exception& e) {
      *error = std::string("signing failed: ") + e.what();
      return false;
    }
  }

 private:
  CryptoPP::AutoSeededRandomPool rng_;
  Signer signer_;
  std::unique_ptr<CryptoPP::PK_MessageAccumulator> hash_;
};

using Pkcs1Sha1Signer = CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Signer;
using PssSha256Signer = CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Signer;

}  // namespace

size_t PrivateKeySigner::SignatureLength() const {
  return static_cast<size_t>(PublicKey().GetModulus().ByteCount());
}

bool PrivateKeySigner::Sign(SignatureScheme scheme, const uint8_t* message, size_t length,
                            std::vector<uint8_t>* signature, std::string* error) const {
  std::unique_ptr<SignatureAccumulator> accumulator = Begin(scheme);
  accumulator->Update(message, length);
  return accumulator->Finish(signature, error);
}

FileKeySigner::FileKeySigner(const CryptoPP::RSA::PrivateKey& key) : key_(key), public_(key) {}

std::unique_ptr<SignatureAccumulator> FileKeySigner::Begin(SignatureScheme scheme) const {
  if (scheme == SignatureScheme::kPkcs1Sha1)
    return std::make_unique<FileAccumulator<Pkcs1Sha1Signer>>(key_);
  return std::make_unique<FileAccumulator<PssSha256Signer>>(key_);
}
