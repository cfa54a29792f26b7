#include "bundle/attachment.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "bundle/attachment_chain.h"
#include "bundle/nested_extraction.h"
#include "bundle/pe_layout.h"
#include "bundle/progress_sink.h"
#include "diagnostics/trace.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

constexpr size_t kFileChunk = 0x100000;  // extraction to a file
constexpr size_t kMemoryChunk = 8192;    // reading into memory

std::wstring& ModulePathStorage() {
  static std::wstring path;
  return path;
}

bool OpenContainer(File* file, const std::wstring& path) {
  if (file->Open(path, FileAccess::kRead)) return true;
  DebugTrace("Could not open container: %s\n", WideToMultiByte(path).c_str());
  return false;
}

bool IsValidType(const std::string& type) { return type.size() == kTypeSize; }

// File mode: the chain ends at end of file. -1 on failure ends the walk at once.
int64_t FileChainEnd(File& container) { return container.Size(); }

// Walks the chain for the nearest trailer of `type`, tracing the walk's end
// the way every reader reports it.
bool FindTrailer(File& container, int64_t chainEnd, const std::string& type, bool traceEach,
                 AttachmentInfo* info) {
  ChainWalker walker(container, chainEnd);
  for (;;) {
    switch (walker.Next(info)) {
      case ChainWalker::Step::kReadFail:
        DebugTrace("Header read fail\n");
        return false;
      case ChainWalker::Step::kEnd:
        DebugTrace("Not found!\n");
        return false;
      case ChainWalker::Step::kTrailer:
        if (traceEach) DebugTrace("Found attachment: %s\n", info->type.c_str());
        if (info->type == type) return true;
        break;
    }
  }
}

// Streams the found attachment's data to `sink` and traces the outcome.
bool ReadData(File& container, const AttachmentInfo& info, size_t chunkSize,
              const std::function<bool(const uint8_t*, size_t)>& sink,
              const std::function<void(uint64_t)>& beforeChunk) {
  std::vector<uint8_t> buffer;
  switch (StreamAttachmentData(container, info, chunkSize, sink, beforeChunk, &buffer)) {
    case DataResult::kOk:
      DebugTrace("Extracted\n");
      return true;
    case DataResult::kInvalidPosition:
      DebugTrace("Invalid pos\n");
      return false;
    case DataResult::kReadFail:
      DebugTrace("read fail\n");
      return false;
    case DataResult::kSinkFail:
      DebugTrace("write fail\n");
      return false;
    case DataResult::kDigestMismatch:
      DebugTrace("hash fail\n");
      return false;
  }
  return false;
}

int32_t ProgressPart(uint32_t size, uint64_t remaining, double scale) {
  const double part = static_cast<double>(size - remaining) * scale / static_cast<double>(size);
  if (!(part > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (!(part < std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(part);  // truncates toward zero
}

struct ExtractOptions {
  bool peMode = false;
  bool traceEach = false;  // "Found attachment" for every trailer
  bool reportProgress = false;
  double scale = 0;
  int32_t base = 0;
  NestedExtraction* nested = nullptr;
  bool takeNested = false;  // the destination is nested's; it is not open yet
};

bool OpenDestination(File* destination, const std::wstring& path) {
  if (destination->Open(path, FileAccess::kCreate)) return true;
  DebugTrace("Could not open destination: %s\n", WideToMultiByte(path).c_str());
  return false;
}

// The outcome of the nested head start for `info`, reported as reading it
// would: the same progress before each piece, then the digest's verdict.
bool TakeNested(NestedExtraction* nested, const AttachmentInfo& info,
                const std::function<void(uint64_t)>& progress) {
  for (uint64_t remaining = info.size; remaining > 0;
       remaining -= std::min<uint64_t>(remaining, kFileChunk)) {
    if (progress) progress(remaining);
  }
  if (!nested->DigestMatches(info)) {
    DebugTrace("hash fail\n");
    return false;
  }
  nested->Take();
  DebugTrace("Extracted\n");
  return true;
}

bool ExtractBody(File& container, File& destination, const std::wstring& destinationPath,
                 const std::string& type, const ExtractOptions& options) {
  if (!IsValidType(type)) {
    DebugTrace("Invalid type to extract: %s\n", type.c_str());
    return false;
  }
  DebugTrace("Going to extract file: %s\n", type.c_str());
  const int64_t chainEnd = options.peMode ? GetLastSectionEnd(container) : FileChainEnd(container);
  AttachmentInfo info;
  if (!FindTrailer(container, chainEnd, type, options.traceEach, &info)) return false;

  std::function<void(uint64_t)> progress;
  if (options.reportProgress) {
    progress = [&](uint64_t remaining) {
      ReportProgress(options.base, ProgressPart(info.size, remaining, options.scale));
    };
  }
  NestedExtraction* const nested = options.nested;
  if (options.takeNested) {
    if (nested->Holds(info)) return TakeNested(nested, info, progress);
    if (!OpenDestination(&destination, destinationPath)) return false;
  } else if (nested) {
    nested->Prepare(container, info);  // false: the later extraction reads as usual
  }
  const bool feed = nested && !options.takeNested && nested->started();
  const bool ok = ReadData(
      container, info, kFileChunk,
      [&](const uint8_t* data, size_t n) {
        if (feed) nested->Feed(data, n);
        return destination.Write(data, n);
      },
      progress);
  if (ok && feed) nested->OuterVerified();
  return ok;
}

bool ExtractToFile(const std::wstring& containerPath, const std::string& type,
                   const std::wstring& destinationPath, const ExtractOptions& options) {
  File container;
  if (!OpenContainer(&container, containerPath)) return false;
  ExtractOptions effective = options;
  if (options.nested && options.nested->destination() == destinationPath) {
    // The head start wrote the destination already; it is opened only if the
    // head start turns out not to hold what the walk finds.
    options.nested->Settle();
    effective.takeNested = options.nested->started();
    if (!effective.takeNested) effective.nested = nullptr;
  }
  File destination;
  if (!effective.takeNested && !OpenDestination(&destination, destinationPath)) return false;
  bool ok = false;
  try {
    ok = ExtractBody(container, destination, destinationPath, type, effective);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  container.Close();
  destination.Close();
  if (!ok) RemoveFile(destinationPath);
  return ok;
}

// Shared by the two in-memory readers once the container is open. Without
// peMode the chain ends before whatever GetAppendedDataSize(signedMode) finds
// after it (a signed executable's certificate table).
std::string ReadBody(File& container, const std::string& type, bool peMode, bool traceEach,
                     uint16_t signedMode, uint32_t* dataOffset) {
  if (!IsValidType(type)) {
    DebugTrace("Invalid type to extract: %s\n", type.c_str());
    return std::string();
  }
  DebugTrace("Going to extract file: %s\n", type.c_str());
  int64_t chainEnd;
  if (peMode) {
    chainEnd = GetLastSectionEnd(container);
  } else {
    chainEnd = FileChainEnd(container);
    if (chainEnd > 0 && chainEnd <= static_cast<int64_t>(UINT32_MAX))
      chainEnd -= GetAppendedDataSize(container, static_cast<uint32_t>(chainEnd), signedMode);
  }
  AttachmentInfo info;
  if (!FindTrailer(container, chainEnd, type, traceEach, &info)) return std::string();
  if (dataOffset && info.dataOffset >= 0) *dataOffset = static_cast<uint32_t>(info.dataOffset);

  std::string result;
  // Data that starts inside the file is bounded by it; other data is refused
  // before any of it is read.
  if (info.dataOffset >= 0) result.reserve(info.size);
  const bool ok = ReadData(
      container, info, kMemoryChunk,
      [&](const uint8_t* data, size_t n) {
        result.append(reinterpret_cast<const char*>(data), n);
        return true;
      },
      nullptr);
  if (!ok) result.clear();
  return result;  // moved, not copied
}

std::string ReadToString(const std::wstring& path, const std::string& type, bool peMode,
                         bool traceEach, uint16_t signedMode, uint32_t* dataOffset) {
  File container;
  if (!OpenContainer(&container, path)) return std::string();
  try {
    return ReadBody(container, type, peMode, traceEach, signedMode, dataOffset);
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

}  // namespace

const std::wstring& ModulePath() { return ModulePathStorage(); }
void SetModulePath(const std::wstring& path) { ModulePathStorage() = path; }

bool ExtractAttachment(double scale, int32_t base, const AttachmentRequest& request) {
  ExtractOptions options;
  options.peMode = request.peMode;
  options.traceEach = true;
  options.reportProgress = true;
  options.scale = scale;
  options.base = base;
  options.nested = request.nested;
  return ExtractToFile(request.container, request.type, request.destination, options);
}

std::string ReadAttachment(const std::wstring& container, const std::string& type) {
  return ReadToString(container, type, /*peMode=*/true, /*traceEach=*/true, 0, nullptr);
}

bool FindAttachment(const std::string& type) {
  File container;
  if (!OpenContainer(&container, ModulePath())) return false;
  if (!IsValidType(type)) {
    DebugTrace("Invalid type to find: %s\n", type.c_str());
    return false;
  }
  DebugTrace("Going to find file: %s\n", type.c_str());
  AttachmentInfo info;
  if (!FindTrailer(container, FileChainEnd(container), type, /*traceEach=*/false, &info))
    return false;
  DebugTrace("found!\n");
  return true;
}

bool ExtractAppendedAttachment(const std::string& type, const std::wstring& destination) {
  return ExtractToFile(ModulePath(), type, destination, ExtractOptions());
}

std::string ReadSignedFileAttachment(const std::wstring& path, const std::string& type,
                                     uint32_t* dataOffset, uint16_t mode) {
  return ReadToString(path, type, /*peMode=*/false, /*traceEach=*/false, mode, dataOffset);
}
