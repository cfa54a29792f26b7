// Key-set folders: making a new set and loading the private keys of one.
// A set holds root.pub.der / root.key.der (RSA 2048, e=65537),
// exe-signing.pub.der / exe-signing.key.der (RSA 4096, e=17),
// bundle-signing.key.der / bundle-signing.pub.der (RSA 2048) with
// bundle-signing.cert (key certificate for goal "IBND" signed by the root key),
// and bundle-key.bin (5,000-byte descrambler table). Public keys are X.509
// SubjectPublicKeyInfo DER, private keys PKCS #8 DER.
#pragma once

#include <cryptopp/rsa.h>

#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t kRootPublicKeyFile[];
extern const wchar_t kRootPrivateKeyFile[];
extern const wchar_t kExeSigningPublicKeyFile[];
extern const wchar_t kExeSigningPrivateKeyFile[];
extern const wchar_t kBundleSigningPublicKeyFile[];
extern const wchar_t kBundleSigningPrivateKeyFile[];
extern const wchar_t kBundleSigningCertFile[];
extern const wchar_t kBundleKeyTableFile[];

constexpr size_t kBundleKeyTableBytes = 5000;

// DIR + "/" + NAME.
std::wstring KeySetFile(const std::wstring& dir, const wchar_t* name);

// Writes a new key set into the existing folder `dir`. Refuses a folder that
// already holds any key-set file, so a set is never overwritten. On failure
// the files written so far are removed and `error` says why.
bool GenerateKeySet(const std::wstring& dir, std::string* error);

// Loads a PKCS #8 DER RSA private key. False with a reason on any error.
bool LoadPrivateKeyFile(const std::wstring& path, CryptoPP::RSA::PrivateKey* key,
                        std::string* error);

// The executable signing key of the set in `dir`.
bool LoadExeSigningKey(const std::wstring& dir, CryptoPP::RSA::PrivateKey* key,
                       std::string* error);
