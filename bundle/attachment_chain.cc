#include "bundle/attachment_chain.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <algorithm>

#include "util/byte_reader.h"

static_assert(CryptoPP::Weak1::MD5::DIGESTSIZE == kDigestSize, "MD5 digest size");

bool ChainWalker::LoadWindow() {
  const int64_t end = next_ + static_cast<int64_t>(kTrailerSize);
  if (next_ >= window_start_ && end <= window_start_ + static_cast<int64_t>(window_length_))
    return true;
  if (window_.empty()) window_.resize(kWindowSize);
  // The walk goes backwards: the window ends with the trailer.
  window_start_ = std::max<int64_t>(0, end - static_cast<int64_t>(kWindowSize));
  const size_t want = static_cast<size_t>(end - window_start_);
  window_length_ = file_.Seek(window_start_) ? file_.Read(window_.data(), want) : 0;
  if (window_length_ == want) return true;
  window_length_ = 0;
  return false;
}

ChainWalker::Step ChainWalker::Next(AttachmentInfo* info) {
  if (next_ < 0) return Step::kEnd;
  if (!LoadWindow()) {
    next_ = -1;
    return Step::kReadFail;
  }
  const uint8_t* trailer = window_.data() + (next_ - window_start_);
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
                                const std::function<void(uint64_t)>& beforeChunk,
                                std::vector<uint8_t>* buffer) {
  if (info.dataOffset < 0) return DataResult::kInvalidPosition;
  if (info.size == 0) {
    // Nothing to read, and the digest of nothing is always the same: a run of
    // empty attachments costs no file access and no hashing.
    static const std::array<uint8_t, kDigestSize> kEmptyDigest = [] {
      std::array<uint8_t, kDigestSize> digest{};
      CryptoPP::Weak1::MD5().Final(digest.data());
      return digest;
    }();
    return info.digest == kEmptyDigest ? DataResult::kOk : DataResult::kDigestMismatch;
  }
  if (!container.Seek(info.dataOffset)) return DataResult::kReadFail;
  CryptoPP::Weak1::MD5 md5;
  const size_t piece =
      static_cast<size_t>(std::min<uint64_t>(info.size, std::max<size_t>(chunkSize, 1)));
  if (buffer->size() < piece) buffer->resize(piece);
  uint8_t* data = buffer->data();
  uint64_t remaining = info.size;
  while (remaining > 0) {
    if (beforeChunk) beforeChunk(remaining);
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, piece));
    if (container.Read(data, chunk) != chunk) return DataResult::kReadFail;
    for (size_t i = 0; i < chunk; ++i) data[i] ^= kAttachmentMask;
    md5.Update(data, chunk);
    if (sink && !sink(data, chunk)) return DataResult::kSinkFail;
    remaining -= chunk;
  }
  uint8_t digest[kDigestSize];
  md5.Final(digest);
  return std::equal(digest, digest + kDigestSize, info.digest.begin()) ? DataResult::kOk
                                                                         : DataResult::kDigestMismatch;
}

bool AttachmentDigestMatches(File& container, const AttachmentInfo& info,
                             std::vector<uint8_t>* buffer) {
  return StreamAttachmentData(container, info, 64 * 1024, nullptr, nullptr, buffer) ==
         DataResult::kOk;
}
