// Key-set folders: making a new set and loading the private keys of one.
// A set holds root.pub.der / root.key.der (RSA 2048, e=65537),
// exe-signing.pub.der / exe-signing.key.der (RSA 4096, e=17),
// bundle-signing.key.der / bundle-signing.pub.der (RSA 2048) with
// bundle-signing.cert (key certificate for goal "IBND" signed by the root key),
// and bundle-key.bin (5,000-byte descrambler table). Public keys are X.509
// SubjectPublicKeyInfo DER, private keys PKCS #8 DER. Instead of NAME.key.der
// a set may hold NAME.key.uri: one PKCS #11 URI naming the private key in a
// token (see pkcs11_token.h); its public half must equal NAME.pub.der.
#pragma once

#include <cryptopp/rsa.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/packlib/private_key_signer.h"

extern const wchar_t kRootPublicKeyFile[];
extern const wchar_t kRootPrivateKeyFile[];
extern const wchar_t kExeSigningPublicKeyFile[];
extern const wchar_t kExeSigningPrivateKeyFile[];
extern const wchar_t kBundleSigningPublicKeyFile[];
extern const wchar_t kBundleSigningPrivateKeyFile[];
extern const wchar_t kBundleSigningCertFile[];
extern const wchar_t kBundleKeyTableFile[];

// The three private keys of a set.
enum class KeyRole { kRoot, kExeSigning, kBundleSigning };

constexpr size_t kBundleKeyTableBytes = 5000;

// DIR + "/" + NAME.
std::wstring KeySetFile(const std::wstring& dir, const wchar_t* name);

// Writes a new key set into the existing folder `dir`. Refuses a folder that
// already holds any key-set file, so a set is never overwritten. On failure
// the files written so far are removed and `error` says why.
bool GenerateKeySet(const std::wstring& dir, std::string* error);

// The same with the three private keys generated inside the PKCS #11 token
// that `uri` names: the folder gets NAME.key.uri files instead of private
// halves. On failure the files and the token's new keys are removed again.
bool GenerateKeySetInToken(const std::wstring& dir, const std::string& uri, std::string* error);

// Opens the private key of `role` in the set `dir`, from NAME.key.der or from
// the token NAME.key.uri names (not both). The executable signing key must be
// RSA 4096 with exponent 17, as the stub expects. Messages name the key.
bool OpenKeySetSigner(const std::wstring& dir, KeyRole role,
                      std::unique_ptr<PrivateKeySigner>* signer, std::string* error);

// The private key in one file: PKCS #8 DER, or a PKCS #11 URI when the name
// ends in ".key.uri", whose public half must then equal `public_path` (never
// empty for a URI). `what` names the key in messages.
bool OpenPrivateKey(const std::wstring& path, const std::wstring& public_path,
                    const std::string& what, std::unique_ptr<PrivateKeySigner>* signer,
                    std::string* error);

// Loads a PKCS #8 DER RSA private key. False with a reason on any error.
bool LoadPrivateKeyFile(const std::wstring& path, CryptoPP::RSA::PrivateKey* key,
                        std::string* error);
