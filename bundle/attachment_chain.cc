#include "bundle/attachment_chain.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <algorithm>

#include "util/byte_reader.h"

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
  std::vector<uint8_t> buffer(std::max<size_t>(chunkSize, 1));
  uint64_t remaining = info.size;
  while (remaining > 0) {
    if (beforeChunk) beforeChunk(remaining);
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
    if (container.Read(buffer.data(), chunk) != chunk) return DataResult::kReadFail;
    for (size_t i = 0; i < chunk; ++i) buffer[i] ^= kAttachmentMask;
    md5.Update(buffer.data(), chunk);
    if (sink && !sink(buffer.data(), chunk)) return DataResult::kSinkFail;
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
