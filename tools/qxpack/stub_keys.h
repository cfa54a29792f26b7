// The public halves of a key set as a stub embeds them (the build copies them
// into its image byte for byte): the root key and the executable signing key
// as SubjectPublicKeyInfo DER, and the descrambler table. A stub trusts a key
// set exactly when its image contains all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PublicKeyHalves {
  std::vector<uint8_t> root;
  std::vector<uint8_t> exe_signing;
  std::vector<uint8_t> table;
};

// From a key set folder; false with a reason when a file is missing or empty.
bool LoadPublicKeyHalves(const std::wstring& dir, PublicKeyHalves* halves, std::string* error);
// The set this qxpack was built with (QX_KEYS_DIR): its verifier uses these.
PublicKeyHalves BuiltinPublicKeyHalves();

// Names of the halves ("root key", "executable signing key", "descrambler
// table") that do not occur in the bytes [data, data + size).
std::vector<std::string> HalvesMissingFrom(const uint8_t* data, size_t size,
                                           const PublicKeyHalves& halves);

// "a, b and c".
std::string JoinNames(const std::vector<std::string>& names);
