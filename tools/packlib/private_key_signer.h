// Private keys as signers. The packer signs through this interface whether
// the private half was read from a file or stays inside a PKCS #11 token, so
// the writers of signatures never see the key itself.
#pragma once

#include <cryptopp/rsa.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class SignatureScheme {
  kPkcs1Sha1,  // RSA PKCS #1 v1.5 with SHA-1: the executables' signature records
  kPssSha256,  // RSA-PSS with SHA-256, MGF1-SHA256, salt 32: bundles, key certificates
};

// Hashes a message piece by piece and signs it at the end.
class SignatureAccumulator {
 public:
  virtual ~SignatureAccumulator() = default;
  virtual void Update(const uint8_t* data, size_t n) = 0;
  // The signature (modulus length), or false and a reason. Call once.
  virtual bool Finish(std::vector<uint8_t>* signature, std::string* error) = 0;
};

class PrivateKeySigner {
 public:
  virtual ~PrivateKeySigner() = default;
  // The public half of the key.
  virtual const CryptoPP::RSA::PublicKey& PublicKey() const = 0;
  // A new accumulator for `scheme`; it uses this signer, which must outlive it.
  virtual std::unique_ptr<SignatureAccumulator> Begin(SignatureScheme scheme) const = 0;

  // Bytes of every signature (the modulus length).
  size_t SignatureLength() const;
  // Signs `message` whole; false and a reason on failure.
  bool Sign(SignatureScheme scheme, const uint8_t* message, size_t length,
            std::vector<uint8_t>* signature, std::string* error) const;
};

// A private key held in memory (read from a PKCS #8 file), signing with Crypto++.
class FileKeySigner : public PrivateKeySigner {
 public:
  explicit FileKeySigner(const CryptoPP::RSA::PrivateKey& key);
  const CryptoPP::RSA::PublicKey& PublicKey() const override { return public_; }
  std::unique_ptr<SignatureAccumulator> Begin(SignatureScheme scheme) const override;

 private:
  CryptoPP::RSA::PrivateKey key_;
  CryptoPP::RSA::PublicKey public_;
};
