#include "integrity/pss_verifier.h"

#include <cryptopp/filters.h>
#include <cryptopp/pssr.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <cstddef>
#include <vector>

namespace {
using Verifier = CryptoPP::RSASS<CryptoPP::PSSR, CryptoPP::SHA256>::Verifier;

CryptoPP::RSAFunction DecodeKey(const uint8_t* spki, size_t size) {
  CryptoPP::RSAFunction key;
  CryptoPP::ByteQueue queue;
  queue.Put(spki, size);
  queue.MessageEnd();
  key.BERDecode(queue);
  return key;
}
}  // namespace

// The message goes straight to the verifier's accumulator; the last
// signature-length bytes seen are held back, since they may be the signature.
// (The library's verification filter does the same, through a message queue
// that would make up a tenth of the stub.)
struct PssVerifierFilter::Impl {
  explicit Impl(const CryptoPP::RSAFunction& key)
      : verifier(key),
        accumulator(verifier.NewVerificationAccumulator()),
        keep(verifier.SignatureLength()) {}

  void Put(const uint8_t* data, size_t n) {
    if (n >= keep) {
      accumulator->Update(tail.data(), tail.size());
      accumulator->Update(data, n - keep);
      tail.assign(data + n - keep, data + n);
      return;
    }
    tail.insert(tail.end(), data, data + n);
    if (tail.size() > keep) {
      const size_t spill = tail.size() - keep;
      accumulator->Update(tail.data(), spill);
      tail.erase(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(spill));
    }
  }

  Verifier verifier;  // the accumulator belongs to it: declared first, destroyed last
  std::unique_ptr<CryptoPP::PK_MessageAccumulator> accumulator;
  const size_t keep;
  std::vector<uint8_t> tail;
};

PssVerifierFilter::PssVerifierFilter(const CryptoPP::RSAFunction& key)
    : impl_(std::make_unique<Impl>(key)) {}

PssVerifierFilter::PssVerifierFilter(const uint8_t* spki, size_t size)
    : impl_(std::make_unique<Impl>(DecodeKey(spki, size))) {}

PssVerifierFilter::~PssVerifierFilter() = default;

void PssVerifierFilter::Put(const uint8_t* data, size_t n) {
  if (n) impl_->Put(data, n);
}

void PssVerifierFilter::End() {
  Impl& v = *impl_;
  v.verifier.InputSignature(*v.accumulator, v.tail.data(), v.tail.size());
  if (!v.verifier.VerifyAndRestart(*v.accumulator))
    throw CryptoPP::SignatureVerificationFilter::SignatureVerificationFailed();
}
