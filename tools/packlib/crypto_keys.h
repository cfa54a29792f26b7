// RSA keys for the packer: private keys as PKCS #8 DER, public keys as
// SubjectPublicKeyInfo DER, from files or bytes. Every function answers false
// (*key may then hold anything) instead of throwing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <cryptopp/rsa.h>

bool LoadPrivateKey(const std::wstring& path, CryptoPP::RSA::PrivateKey* key);
bool LoadPublicKey(const std::wstring& path, CryptoPP::RSA::PublicKey* key);
bool DecodePrivateKey(const std::vector<uint8_t>& der, CryptoPP::RSA::PrivateKey* key);
bool DecodePublicKey(const std::vector<uint8_t>& der, CryptoPP::RSA::PublicKey* key);
// SubjectPublicKeyInfo DER of a key.
std::vector<uint8_t> EncodePublicKey(const CryptoPP::RSA::PublicKey& key);
