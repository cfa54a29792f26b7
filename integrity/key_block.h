// The key block: one fixed-size array in the stub's image holding the trusted
// public keys and the descrambler table. It lies in the part of the image the
// installer's signature covers, so the packer fills it in before signing and
// one prebuilt stub serves every key set.
//
// Layout (little-endian): 16-byte marker, u32 format (1), u32 root key size,
// u32 executable signing key size, u32 table size, then the three in that
// order, zeros up to kKeyBlockSize.
#pragma once

#include <cstddef>
#include <cstdint>

#include "integrity/builtin_keys.h"

constexpr size_t kKeyBlockSize = 6144;
constexpr size_t kKeyBlockHeaderSize = 32;
constexpr size_t kKeyBlockMarkerSize = 16;
constexpr uint32_t kKeyBlockFormat = 1;
// Room for the keys and the table together.
constexpr size_t kKeyBlockCapacity = kKeyBlockSize - kKeyBlockHeaderSize;
static_assert(kKeyBlockCapacity >= 550 + 550 + 5000,
              "two 4096-bit keys and a 5,000-byte table must fit");

// The block this image was built with (generated from QX_KEYS_DIR).
extern const unsigned char kImageKeyBlock[kKeyBlockSize];

// Points `keys` into `block` (its first `size` bytes, marker included; the
// marker itself is not compared: the packer finds blocks by it, and a second
// copy of it in the stub would make that ambiguous). False when a size is 0,
// the format is unknown or the three do not fit.
bool ParseKeyBlock(const uint8_t* block, uint64_t size, TrustedKeys* keys);
