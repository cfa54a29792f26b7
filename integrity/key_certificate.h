// Key certificates: an RSA public key bound to a four-byte goal and an expiry,
// signed with the built-in root key (RSA-PSS, MGF1-SHA256, SHA-256).
//
// Layout (little-endian): goal[4], expiry i32, key length c i32, key[c]
// (SubjectPublicKeyInfo DER), signature length d i32, signature[d]; bytes
// after the signature are ignored. The signed message is goal, expiry, key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace CryptoPP {
class RSAFunction;
}

// Checks a certificate against the built-in root key and the expected goal
// (its first four bytes; a shorter string is padded with NULs). Returns the
// certified key, owned by the caller, or nothing after tracing the reason.
// The record is only read; nothing is kept between calls; never throws.
std::unique_ptr<CryptoPP::RSAFunction> CheckKeyCertificate(const uint8_t* data, int32_t length,
                                                           const std::string& expected_goal);

// Size of the fixed part of a certificate (goal, expiry and both lengths).
constexpr int32_t kKeyCertificateFixedSize = 16;
