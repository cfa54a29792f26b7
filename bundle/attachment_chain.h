// The attachment chain format: data followed by a 28-byte trailer (MD5 of the
// plain data, size, 4-character type, magic "ABD2"), read backwards from the
// chain end. Stored data bytes are the plain bytes XOR kAttachmentMask.
// Everything here only reads; writers live with the packer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/platform.h"

constexpr size_t kTrailerSize = 28;
constexpr size_t kDigestSize = 16;
constexpr size_t kTypeSize = 4;
constexpr uint32_t kAttachmentMagic = 0x32444241;  // "ABD2" little-endian
constexpr uint8_t kAttachmentMask = 0xA7;

// XORs `n` bytes with kAttachmentMask in place (masks and unmasks), a word
// at a time: every byte of a product passes through here twice.
void MaskAttachmentBytes(uint8_t* data, size_t n);

// Trailer field offsets.
constexpr size_t kTrailerSizeField = 16;
constexpr size_t kTrailerTypeField = 20;
constexpr size_t kTrailerMagicField = 24;
static_assert(kTrailerMagicField + 4 == kTrailerSize, "trailer layout");

struct AttachmentInfo {
  std::string type;                      // exactly 4 bytes, as stored
  uint32_t size = 0;                     // data length
  int64_t dataOffset = 0;                // file offset of the data; negative when the size lies
  int64_t trailerOffset = 0;             // file offset of the trailer
  std::array<uint8_t, kDigestSize> digest{};
};

// Reads the trailer that lies at `position` (28 bytes at `trailer`) into
// `info`; false when it has no magic. `info->dataOffset` may be negative.
bool ParseTrailer(const uint8_t* trailer, int64_t position, AttachmentInfo* info);

// Steps through the trailers of a chain, nearest to the chain end first.
// Trailers are read through a window of the file that ends at the trailer, so
// a run of small attachments costs one read per window, not one per trailer.
// Seeks before every read, so the caller may use the file in between (but
// must not change it).
class ChainWalker {
 public:
  enum class Step {
    kTrailer,   // `info` holds the next trailer
    kEnd,       // a trailer without the magic, or the next position is below 0
    kReadFail,  // a trailer could not be read whole
  };
  static constexpr size_t kWindowSize = 64 * 1024;

  ChainWalker(File& container, int64_t chainEnd)
      : file_(container), next_(chainEnd - static_cast<int64_t>(kTrailerSize)) {}
  Step Next(AttachmentInfo* info);

 private:
  // Makes the window hold [next_, next_ + kTrailerSize); false on a short read.
  bool LoadWindow();

  File& file_;
  int64_t next_;  // position of the next trailer
  std::vector<uint8_t> window_;
  int64_t window_start_ = 0;
  size_t window_length_ = 0;
};

// Every trailer of the chain that ends at `chainEnd`, nearest to the end
// first; stops silently at the first unreadable or magic-less trailer.
std::vector<AttachmentInfo> ListAttachments(File& container, int64_t chainEnd);

enum class DataResult { kOk, kInvalidPosition, kReadFail, kSinkFail, kDigestMismatch };

// Reads the attachment's data in chunks of `chunkSize` bytes, unmasks each
// chunk, hashes it and hands it to `sink` (false from the sink stops with
// kSinkFail). `beforeChunk`, when set, is called with the bytes still
// remaining before each chunk is read. The chunk buffer is `*buffer`, grown
// as needed and kept, so a caller that streams many attachments passes the
// same one; never larger than the chunk size or the attachment. (A sink given
// pieces of 256 KiB or more gets them from a read-ahead thread's own
// buffers instead.)
DataResult StreamAttachmentData(File& container, const AttachmentInfo& info, size_t chunkSize,
                                const std::function<bool(const uint8_t*, size_t)>& sink,
                                const std::function<void(uint64_t)>& beforeChunk,
                                std::vector<uint8_t>* buffer);

// True when the stored data unmasks to bytes whose MD5 equals the trailer's
// digest. `buffer` as for StreamAttachmentData: one per walk.
bool AttachmentDigestMatches(File& container, const AttachmentInfo& info,
                             std::vector<uint8_t>* buffer);
