// The Windows build of the packer library (its unit tests) has no PKCS #11 support.
#include "tools/packlib/pkcs11_token.h"

namespace {
const char kUnsupported[] = "PKCS #11 tokens are not supported in this build";
}  // namespace

bool OpenTokenSigner(const std::string&, std::unique_ptr<PrivateKeySigner>*, std::string* error) {
  *error = kUnsupported;
  return false;
}

std::string TokenModulePath(const std::string&) { return {}; }

bool TokenPin(const std::string&, std::string* pin, std::string*) {
  pin->clear();
  return true;
}

struct TokenKeyGenerator::Impl {};
TokenKeyGenerator::TokenKeyGenerator() = default;
TokenKeyGenerator::~TokenKeyGenerator() = default;
TokenKeyGenerator::TokenKeyGenerator(TokenKeyGenerator&&) noexcept = default;
TokenKeyGenerator& TokenKeyGenerator::operator=(TokenKeyGenerator&&) noexcept = default;

bool TokenKeyGenerator::Open(const std::string&, std::string* error) {
  *error = kUnsupported;
  return false;
}

bool TokenKeyGenerator::Generate(const std::string&, unsigned, unsigned, CryptoPP::RSA::PublicKey*,
                                 std::string*, std::string* error) {
  *error = kUnsupported;
  return false;
}

void TokenKeyGenerator::Keep() {}
