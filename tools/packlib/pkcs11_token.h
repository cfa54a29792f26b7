// RSA private keys that stay inside a PKCS #11 token, named by PKCS #11 URIs
// (RFC 7512), e.g. pkcs11:token=release;object=exe-signing;type=private?pin-value=1234.
// The module is the URI's module-path, else $QX_PKCS11_MODULE, else the
// p11-kit proxy module, i.e. every module p11-kit is configured with; the PIN
// is the URI's pin-value, else the file named by pin-source (file:PATH), else
// $QX_PKCS11_PIN. Host builds only: elsewhere
// every function answers that tokens are not supported.
#pragma once

#include <cryptopp/rsa.h>

#include <memory>
#include <string>

#include "tools/packlib/private_key_signer.h"

// Opens the one RSA private key that `uri` matches in the one token it
// matches and logs in. False with a reason (wrong PIN, no such token or key,
// a module that does not load, a key that is not RSA...).
bool OpenTokenSigner(const std::string& uri, std::unique_ptr<PrivateKeySigner>* signer,
                     std::string* error);

// The module `uri` names (see above; the proxy module's path by default);
// empty when `uri` is not a PKCS #11 URI.
std::string TokenModulePath(const std::string& uri);
// The PIN `uri` carries or points at (see above); empty when there is none.
// False with a reason when pin-source cannot be read.
bool TokenPin(const std::string& uri, std::string* pin, std::string* error);

// Generates RSA key pairs in the token that `uri` names (its token
// attributes, module and PIN). Keys stay in the token unless the generator is
// destroyed before Keep(): then every key it made is destroyed again, so a
// failed key set leaves nothing behind in the token either.
class TokenKeyGenerator {
 public:
  TokenKeyGenerator();
  ~TokenKeyGenerator();
  TokenKeyGenerator(TokenKeyGenerator&&) noexcept;
  TokenKeyGenerator& operator=(TokenKeyGenerator&&) noexcept;
  TokenKeyGenerator(const TokenKeyGenerator&) = delete;
  TokenKeyGenerator& operator=(const TokenKeyGenerator&) = delete;

  bool Open(const std::string& uri, std::string* error);
  // A new key pair labelled `label`, its private half sensitive and not
  // extractable; `public_key` is its public half, `key_uri` names the private
  // key with the module and PIN of the URI given to Open.
  bool Generate(const std::string& label, unsigned bits, unsigned exponent,
                CryptoPP::RSA::PublicKey* public_key, std::string* key_uri, std::string* error);
  void Keep();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
