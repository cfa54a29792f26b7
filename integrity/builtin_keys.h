// Public keys and the descrambler table of the key set the build embeds
// (CMake option QX_KEYS_DIR). Private halves are never part of a binary.
#pragma once

extern const unsigned char kRootPublicKeyDer[];       // SubjectPublicKeyInfo, RSA 2048
extern const unsigned int kRootPublicKeyDerSize;
extern const unsigned char kExeSigningPublicKeyDer[]; // SubjectPublicKeyInfo, RSA 4096
extern const unsigned int kExeSigningPublicKeyDerSize;
extern const unsigned char kBundleKeyTable[];         // 5,000-byte descrambler table
extern const unsigned int kBundleKeyTableSize;
