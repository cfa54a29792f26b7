// VerifyFileSignature on a whole file: record lookup in both chain modes,
// both attempts, the header ranges of PE images.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "integrity/file_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = WriteInputFile(data, size);
  const bool valid = VerifyFileSignature(path, false);
  const FileSignatureReport report = CheckFileSignature(path);
  FUZZ_CHECK(valid == (report.verdict != FileSignatureReport::Verdict::kInvalid));
  FUZZ_CHECK(!valid || report.signedLength <= size);
  return 0;
}
