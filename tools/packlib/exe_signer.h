// Signer of executables: the "_SG2" signature record that the stub verifies
// (RSA PKCS #1 v1.5 with SHA-1 over every file byte before the record's data,
// optionally with the volatile PE header ranges left out), and the assembly of
// a finished, signed installer. Works on in-memory files; only
// WriteSignedInstaller touches the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/pe_layout.h"
#include "tools/packlib/private_key_signer.h"

// Signs file[0, signedLength) with the `excluded` ranges left out. The ranges
// must be in increasing order, must not overlap and must end inside the
// signed length (else false and a reason). The signature has the modulus
// length of `key`.
bool SignFilePrefix(const PrivateKeySigner& key, const std::vector<uint8_t>& file,
                    uint64_t signedLength, const RangeList& excluded,
                    std::vector<uint8_t>* signature, std::string* error);

// The record text {"sign":"<lower-case hex>"}.
std::string MakeSignatureRecord(const std::vector<uint8_t>& signature);
// Length of a record made with `key` (11 + 2 x modulus bytes; 1,035 for 4096 bits).
size_t SignatureRecordSize(const PrivateKeySigner& key);

// Appends a "_SG2" attachment to `file` whose record signs every byte before
// its data (whole-prefix mode). On failure `file` is unchanged.
bool AppendWholePrefixSignature(std::vector<uint8_t>* file, const PrivateKeySigner& key,
                                std::string* error);

// Writes the finished installer to `outPath`: `stub` with a last section
// ".QXBNDL" holding "_SG1", "_SG2", "TYPE" (`typeText`) and "LOAD" (`setup`),
// LOAD nearest the chain end. "_SG2" signs bytes [0, its data offset) with the
// header ranges of the final file left out, so it verifies before and after an
// Authenticode signature is added; "_SG1", the same size, carries a
// whole-prefix signature of the bytes before it. On failure `outPath` is
// removed and `error` says why.
bool WriteSignedInstaller(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& setup,
                          const std::string& typeText, const PrivateKeySigner& key,
                          const std::wstring& outPath, std::string* error);
