#include "bundle/attachment_chain.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <algorithm>

#include "util/byte_reader.h"
#include "util/read_ahead.h"

static_assert(CryptoPP::Weak1::MD5::DIGESTSIZE == kDigestSize, "MD5 digest size");

ChainWalker::Step ChainWalker::Next(AttachmentInfo* info) {
  if (next_ < 0) return Step::kEnd;
  uint8_t trailer[kTrailerSize];
  if (!file_.Seek(next_) || file_.Read(trailer, sizeof trailer) != sizeof trailer) {
    next_ = -1;
    return Step::kReadFail;
  }
  if (ByteReader::LoadU32(trailer + kTrailerMagicField) != kAttachmentMagic) {
    next_ = -1;
    return Step::kEnd;
  }
  info->type.assign(reinterpret_cast<const char*>(trailer + kTrailerTypeField), kTypeSize);
  info->size = ByteReader::LoadU32(trailer + kTrailerSizeField);
  info->trailerOffset = next_;
  info->dataOffset = next_ - static_cast<int64_t>(info->size);
  std::copy(trailer, trailer + kDigestSize, info->digest.begin());
  // 64-bit: a huge size field moves below 0 instead of wrapping.
  next_ = info->dataOffset - static_cast<int64_t>(kTrailerSize);
  return Step::kTrailer;
}

std::vector<AttachmentInfo> ListAttachments(File& container, int64_t chainEnd) {
  std::vector<AttachmentInfo> found;
  ChainWalker walker(container, chainEnd);
  AttachmentInfo info;
  while (walker.Next(&info) == ChainWalker::Step::kTrailer) found.push_back(info);
  return found;
}

DataResult StreamAttachmentData(File& container, const AttachmentInfo& info, size_t chunkSize,
                                const std::function<bool(const uint8_t*, size_t)>& sink,
                                const std::function<void(uint64_t)>& beforeChunk) {
  if (info.dataOffset < 0) return DataResult::kInvalidPosition;
  if (!container.Seek(info.dataOffset)) return DataResult::kReadFail;
  CryptoPP::Weak1::MD5 md5;
  const size_t piece = std::max<size_t>(chunkSize, 1);
  const auto length = [&info, piece](uint64_t index) {
    return static_cast<size_t>(std::min<uint64_t>(info.size - index * piece, piece));
  };
  // Reading, unmasking and hashing run on a second thread, a piece ahead of
  // the sink; only this thread touches the container until `pieces` is gone.
  const uint64_t count = (uint64_t{info.size} + piece - 1) / piece;
  ReadAhead pieces(
      count, piece,
      [&](uint64_t index, uint8_t* buffer) {
        const size_t n = length(index);
        if (container.Read(buffer, n) != n) return false;
        for (size_t i = 0; i < n; ++i) buffer[i] ^= kAttachmentMask;
        md5.Update(buffer, n);
        return true;
      },
      /*threaded=*/count > 1);
  uint64_t remaining = info.size;
  for (uint64_t index = 0; remaining > 0; ++index) {
    if (beforeChunk) beforeChunk(remaining);
    const size_t chunk = length(index);
    const uint8_t* data = pieces.Next();
    if (!data) return DataResult::kReadFail;
    if (sink && !sink(data, chunk)) return DataResult::kSinkFail;
    remaining -= chunk;
  }
  uint8_t digest[kDigestSize];
  md5.Final(digest);
  return std::equal(digest, digest + kDigestSize, info.digest.begin()) ? DataResult::kOk
                                                                         : DataResult::kDigestMismatch;
}

bool AttachmentDigestMatches(File& container, const AttachmentInfo& info) {
  return StreamAttachmentData(container, info, 64 * 1024, nullptr) == DataResult::kOk;
}
