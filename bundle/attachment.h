// Readers of named attachments in a chain (see attachment_chain.h). Each opens
// and closes its own files within the call, traces through DebugTrace, never
// throws, and answers false or an empty string on failure. A destination file
// that was opened is deleted on every failure, so no partial file survives.
#pragma once

#include <cstdint>
#include <string>

class NestedExtraction;

struct AttachmentRequest {
  bool peMode = false;       // true: chain ends at the last section's raw data end
  std::wstring container;    // file holding the chain
  std::string type;          // four characters
  std::wstring destination;  // created (truncated) and written
  // Optional. When its destination is this request's, the extraction takes
  // the head start it holds for the trailer found (else reads as usual);
  // otherwise it is fed this attachment's data on the way.
  NestedExtraction* nested = nullptr;
};

// The stub's own executable path, set once at start-up (and by tests).
const std::wstring& ModulePath();
void SetModulePath(const std::wstring& path);

// Extracts the attachment nearest the chain end with the requested type into
// the destination, reporting progress base + (done * scale / size) before each
// 1 MiB chunk.
bool ExtractAttachment(double scale, int32_t base, const AttachmentRequest& request);

// The plain bytes of an attachment of the container's bundle section (PE mode);
// empty on any failure.
std::string ReadAttachment(const std::wstring& container, const std::string& type);

// Whether the chain at the very end of ModulePath() holds the type. Reads
// trailers only; the digest is not checked.
bool FindAttachment(const std::string& type);

// Extracts from the chain at the very end of ModulePath(); no progress reports.
bool ExtractAppendedAttachment(const std::string& type, const std::wstring& destination);

// The plain bytes of an attachment of a signed executable's chain, which ends
// GetAppendedDataSize(mode) bytes before the end of the file. Stores the
// data's file offset through `dataOffset` (if not null) once the attachment is
// found and its position is valid, before the data is read. Empty on failure.
std::string ReadSignedFileAttachment(const std::wstring& path, const std::string& type,
                                     uint32_t* dataOffset, uint16_t mode);
