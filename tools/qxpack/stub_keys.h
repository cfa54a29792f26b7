// The public halves of a key set and the stub's key block that carries them
// (integrity/key_block.h): the root key and the executable signing key as
// SubjectPublicKeyInfo DER, and the descrambler table. A stub trusts exactly
// the set in its block; `build` and `stub` write the block before signing.
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

// The key block of `halves`; false with a reason ("does not fit ...") when
// they do not fit.
bool MakeKeyBlock(const PublicKeyHalves& halves, std::vector<uint8_t>* block, std::string* error);

// Offset of the one key block in the bytes; false with a reason when there is
// none, more than one, or one that does not parse.
bool FindKeyBlock(const uint8_t* data, size_t size, size_t* offset, std::string* error);

// Replaces the key block of a stub image with `block` (from MakeKeyBlock).
bool WriteKeyBlock(std::vector<uint8_t>* stub, const std::vector<uint8_t>& block, std::string* error);

// The key block of the stub part (before its bundle section) of an installer
// or stub file, and the halves it holds. `*marked` tells whether the file has
// a block marker at all, so that a file without one (a setup program) can be
// told from a damaged stub.
bool ReadStubKeyBlock(const std::string& path, std::vector<uint8_t>* block,
                      PublicKeyHalves* halves, bool* marked, std::string* error);

// Names ("root key", "executable signing key", "descrambler table") of the
// halves in which `a` and `b` differ.
std::vector<std::string> DifferingHalves(const PublicKeyHalves& a, const PublicKeyHalves& b);

// One line per half: its name and the SHA-256 of its bytes in hex.
std::vector<std::string> Fingerprints(const PublicKeyHalves& halves);

// "a, b and c".
std::string JoinNames(const std::vector<std::string>& names);
