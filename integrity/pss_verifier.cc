#include "integrity/pss_verifier.h"

#include <cryptopp/filters.h>
#include <cryptopp/pssr.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

namespace {
using Verifier = CryptoPP::RSASS<CryptoPP::PSSR, CryptoPP::SHA256>::Verifier;
// Signature after the message; a mismatch raises SignatureVerificationFailed.
constexpr CryptoPP::word32 kFilterFlags = CryptoPP::SignatureVerificationFilter::THROW_EXCEPTION;
static_assert(kFilterFlags == 16, "verification filter flags");

CryptoPP::RSAFunction DecodeKey(const uint8_t* spki, size_t size) {
  CryptoPP::RSAFunction key;
  CryptoPP::ByteQueue queue;
  queue.Put(spki, size);
  queue.MessageEnd();
  key.BERDecode(queue);
  return key;
}
}  // namespace

struct PssVerifierFilter::Impl {
  explicit Impl(const CryptoPP::RSAFunction& key)
      : verifier(key), filter(verifier, nullptr, kFilterFlags) {}
  Verifier verifier;  // the filter refers to it: declared first, destroyed last
  CryptoPP::SignatureVerificationFilter filter;
};

PssVerifierFilter::PssVerifierFilter(const CryptoPP::RSAFunction& key)
    : impl_(std::make_unique<Impl>(key)) {}

PssVerifierFilter::PssVerifierFilter(const uint8_t* spki, size_t size)
    : impl_(std::make_unique<Impl>(DecodeKey(spki, size))) {}

PssVerifierFilter::~PssVerifierFilter() = default;

void PssVerifierFilter::Put(const uint8_t* data, size_t n) {
  if (n) impl_->filter.Put(data, n);
}

void PssVerifierFilter::End() { impl_->filter.MessageEnd(); }
