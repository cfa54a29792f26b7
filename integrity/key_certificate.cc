#include "integrity/key_certificate.h"

#include <cryptopp/filters.h>
#include <cryptopp/pssr.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include "diagnostics/trace.h"
#include "integrity/builtin_keys.h"
#include "integrity/pss_verifier.h"
#include "util/byte_reader.h"

std::unique_ptr<CryptoPP::RSAFunction> CheckKeyCertificate(const uint8_t* data, int32_t length,
                                                           const std::string& expected_goal) {
  if (data == nullptr || length < kKeyCertificateFixedSize) return nullptr;
  const ByteReader in(data, static_cast<uint64_t>(length));

  char goal[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < expected_goal.size(); ++i) goal[i] = expected_goal[i];
  if (!in.Equals(0, goal, 4)) {
    DebugTrace("Public key goal is %c%c%c%c, should be %c%c%c%c\n", data[0], data[1], data[2],
               data[3], goal[0], goal[1], goal[2], goal[3]);
    return nullptr;
  }

  // Bounds in 64-bit signed arithmetic: negative lengths never fit.
  int32_t key_length = 0;
  in.I32(8, &key_length);
  const int64_t key_end = 12 + static_cast<int64_t>(key_length);
  if (key_length < 0 || key_end > length) {
    DebugTrace("%s", "Public key is truncated\n");
    return nullptr;
  }
  int32_t sign_length = -1;
  if (!in.I32(static_cast<uint64_t>(key_end), &sign_length) || sign_length < 0 ||
      key_end + 4 + static_cast<int64_t>(sign_length) > length) {
    DebugTrace("%s", "Public key sign is truncated\n");
    return nullptr;
  }
  const uint8_t* key = data + 12;
  const uint8_t* signature = data + key_end + 4;

  // The signed message is the first 12 + c bytes minus the key-length field.
  bool signed_ok = false;
  try {
    PssVerifierFilter verifier(ActiveTrustedKeys().root, ActiveTrustedKeys().root_size);
    verifier.Put(data, 8);
    verifier.Put(key, static_cast<size_t>(key_length));
    verifier.Put(signature, static_cast<size_t>(sign_length));
    verifier.End();
    signed_ok = true;
  } catch (...) {
  }
  if (!signed_ok) {
    DebugTrace("%s", "Public key sign is not valid");
    return nullptr;
  }

  // A correctly signed record whose key does not decode is refused like any
  // other bad certificate, so no decoding error reaches the caller.
  try {
    auto result = std::make_unique<CryptoPP::RSAFunction>();
    CryptoPP::ByteQueue queue;
    queue.Put(key, static_cast<size_t>(key_length));
    queue.MessageEnd();
    result->BERDecode(queue);
    return result;
  } catch (...) {
    DebugTrace("%s", "Public key is not a valid RSA key\n");
    return nullptr;
  }
}
