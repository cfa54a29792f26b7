// The keys this program trusts: the root key (verifies key certificates), the
// executable signing key (verifies installer and setup signatures), both
// SubjectPublicKeyInfo DER, and the descrambler table. They come from the key
// block in the image (key_block.h), which the packer rewrites per key set.
#pragma once

#include <cstddef>
#include <cstdint>

struct TrustedKeys {
  const uint8_t* root = nullptr;
  uint32_t root_size = 0;
  const uint8_t* exe_signing = nullptr;
  uint32_t exe_signing_size = 0;
  const uint8_t* table = nullptr;
  uint32_t table_size = 0;
};

// The keys in effect: the image's own block, parsed on first use, unless a
// tool chose others with UseKeyBlock. All sizes are 0 when the image's block
// does not parse; nothing verifies then.
const TrustedKeys& ActiveTrustedKeys();

// Tools only: trust the keys of `block` (a copy is kept) from now on, e.g. the
// block of the installer being checked. False, and nothing changes, when the
// block does not parse.
bool UseKeyBlock(const uint8_t* block, size_t size);
