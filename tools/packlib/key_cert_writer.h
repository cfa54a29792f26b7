// Issues key certificates: goal, expiry and an RSA public key, signed with the
// root key (RSA-PSS, MGF1-SHA256, salt 32, SHA-256).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packlib/private_key_signer.h"

// Certificate for `public_key_der` (SubjectPublicKeyInfo, certified as given).
// `goal` must be four bytes. Empty on failure, with the reason in `error` when given.
std::vector<uint8_t> MakeKeyCertificate(const PrivateKeySigner& root, const std::string& goal,
                                        int32_t expiry, const std::vector<uint8_t>& public_key_der,
                                        std::string* error = nullptr);

// Seconds since 1970-01-01 00:00 UTC of a "YYYY-MM-DD" date at midnight UTC;
// false when the text is not such a date or does not fit a signed 32-bit time.
bool ParseExpiryDate(const std::string& text, int32_t* seconds);
