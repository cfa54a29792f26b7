// The PE readers and the attachment chain readers on a whole file image: the
// chain ends every reader computes, the walk from each, the digest checks,
// and each extraction and in-memory reader the stub uses.
#include <cstdint>
#include <vector>

#include "bundle/attachment.h"
#include "bundle/attachment_chain.h"
#include "bundle/pe_layout.h"
#include "fuzz/fuzz_support.h"
#include "util/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = WriteInputFile(data, size);
  const std::wstring out = ScratchOutputPath();
  {
    File file;
    FUZZ_CHECK(file.Open(path, FileAccess::kRead));
    std::vector<int64_t> ends = {GetLastSectionEnd(file), static_cast<int64_t>(size)};
    for (uint16_t mode : {0, 1}) {
      const uint32_t appended = GetAppendedDataSize(file, 0, mode);
      FUZZ_CHECK(appended <= size);
      FUZZ_CHECK(GetAppendedDataSize(file, static_cast<uint32_t>(size), mode) == appended);
      ends.push_back(static_cast<int64_t>(size) - appended);
    }
    RangeList ranges;
    if (CollectVolatileHeaderRanges(file, &ranges)) {
      FUZZ_CHECK(ranges.size() == 5);
      for (const HeaderRange& r : ranges) FUZZ_CHECK(uint64_t{r.first} + r.second <= size);
    } else {
      FUZZ_CHECK(ranges.empty());
    }
    std::vector<uint8_t> buffer;
    for (int64_t end : ends) {
      for (const AttachmentInfo& a : ListAttachments(file, end)) {
        FUZZ_CHECK(a.trailerOffset + 28 <= end && a.trailerOffset >= 0);
        FUZZ_CHECK(a.dataOffset == a.trailerOffset - static_cast<int64_t>(a.size));
        AttachmentDigestMatches(file, a, &buffer);
      }
    }
  }

  ReadAttachment(path, "TYPE");
  uint32_t offset = 0;
  for (uint16_t mode : {0, 1}) ReadSignedFileAttachment(path, "_SG2", &offset, mode);
  AttachmentRequest request;
  request.peMode = true;
  request.container = path;
  request.type = "LOAD";
  request.destination = out;
  ExtractAttachment(50.0, 0, request);
  request.peMode = false;
  request.type = "IBND";
  if (!ExtractAttachment(25.0, 50, request)) FUZZ_CHECK(!File().Open(out, FileAccess::kRead));
  SetModulePath(path);
  FindAttachment("A404");
  if (!ExtractAppendedAttachment("A404", out)) FUZZ_CHECK(!File().Open(out, FileAccess::kRead));
  RemoveFile(out);
  return 0;
}
