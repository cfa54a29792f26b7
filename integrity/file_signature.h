// The embedded signature of executables: the "_SG2" attachment holds a JSON
// object whose "sign" member is the hex RSA PKCS #1 v1.5 / SHA-1 signature, by
// the built-in executable signing key, of every file byte before the record.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "diagnostics/json/json_value.h"

// True only when the record's signature verifies. The first attempt hashes the
// whole prefix; if it fails it retries with the volatile PE header ranges left
// out (excludeHeaderRanges = true), which is how a stub signed before its bundle
// section and Authenticode signature were added passes. Never throws.
bool VerifyFileSignature(std::wstring path, bool excludeHeaderRanges);

// One attempt only, without the retry and without tracing; for the packer's
// inspect command, which reports which attempt passed.
bool VerifyFileSignatureAttempt(const std::wstring& path, bool excludeHeaderRanges);

// What VerifyFileSignature(path, false) decides and which attempt passed,
// with the record read and parsed once; for the packer's inspect command.
struct FileSignatureReport {
  enum class Verdict { kInvalid, kWholePrefix, kHeaderRanges };
  bool hasRecord = false;     // "_SG2" holds a JSON object with members
  uint32_t signedLength = 0;  // the record's data offset when it was found
  Verdict verdict = Verdict::kInvalid;
};
FileSignatureReport CheckFileSignature(const std::wstring& path);

// The "_SG2" record's members (empty map when missing or not an object);
// `signedLength` receives the record's data offset when it was found.
std::map<std::string, JsonValue> ReadSignatureRecord(const std::wstring& path,
                                                     uint32_t* signedLength);
