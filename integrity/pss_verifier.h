// Incremental RSA-PSS (MGF1-SHA256, SHA-256) verification: the message is fed
// in pieces, then the signature, then End. Used for key certificates and for
// bundle signatures. Constructors and End throw the crypto library's
// exceptions (End: SignatureVerificationFailed); callers catch at their
// boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace CryptoPP {
class RSAFunction;
}

class PssVerifierFilter {
 public:
  explicit PssVerifierFilter(const CryptoPP::RSAFunction& key);
  // `spki`: a DER SubjectPublicKeyInfo of an RSA key.
  PssVerifierFilter(const uint8_t* spki, size_t size);
  ~PssVerifierFilter();
  PssVerifierFilter(const PssVerifierFilter&) = delete;
  PssVerifierFilter& operator=(const PssVerifierFilter&) = delete;

  // Message bytes followed by the signature bytes, as one stream: the filter
  // takes the last signature-length bytes as the signature.
  void Put(const uint8_t* data, size_t n);
  void End();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
