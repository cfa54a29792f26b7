// The "_SG2" signature record and its JSON: the input is the record's text,
// stored as the last attachment after a fixed signed part, and the file is
// checked as the stub checks its own (record read, parsed once, "sign"
// decoded, verified). The seed signs that part, so the success path runs too.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "integrity/file_signature.h"
#include "tools/packlib/attachment_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(600, 'P');  // the signed part
  AppendAttachment(&file, "_SG2", data, size);
  const std::wstring path = WriteInputFile(file.data(), file.size());
  const FileSignatureReport report = CheckFileSignature(path);
  FUZZ_CHECK(report.verdict == FileSignatureReport::Verdict::kInvalid || report.hasRecord);
  FUZZ_CHECK(!report.hasRecord || report.signedLength == 600);
  return 0;
}
