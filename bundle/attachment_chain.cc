#include "bundle/attachment_chain.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "util/byte_reader.h"
#include "util/read_ahead.h"

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

bool ParseTrailer(const uint8_t* trailer, int64_t position, AttachmentInfo* info) {
  if (ByteReader::LoadU32(trailer + kTrailerMagicField) != kAttachmentMagic) return false;
  info->type.assign(reinterpret_cast<const char*>(trailer + kTrailerTypeField), kTypeSize);
  info->size = ByteReader::LoadU32(trailer + kTrailerSizeField);
  info->trailerOffset = position;
  info->dataOffset = position - static_cast<int64_t>(info->size);
  std::copy(trailer, trailer + kDigestSize, info->digest.begin());
  return true;
}

ChainWalker::Step ChainWalker::Next(AttachmentInfo* info) {
  if (next_ < 0) return Step::kEnd;
  if (!LoadWindow()) {
    next_ = -1;
    return Step::kReadFail;
  }
  if (!ParseTrailer(window_.data() + (next_ - window_start_), next_, info)) {
    next_ = -1;
    return Step::kEnd;
  }
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

void MaskAttachmentBytes(uint8_t* data, size_t n) {
  constexpr uint64_t kWide = 0x0101010101010101ull * kAttachmentMask;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    word ^= kWide;
    std::memcpy(data + i, &word, 8);
  }
  for (; i < n; ++i) data[i] ^= kAttachmentMask;
}

namespace {
constexpr size_t kMinThreadedPiece = 256 * 1024;
}  // namespace

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
  const auto length = [&info, piece](uint64_t index) {
    return static_cast<size_t>(std::min<uint64_t>(info.size - index * piece, piece));
  };
  const auto fill = [&](uint64_t index, uint8_t* data) {
    const size_t n = length(index);
    if (container.Read(data, n) != n) return false;
    MaskAttachmentBytes(data, n);
    md5.Update(data, n);
    return true;
  };
  const uint64_t count = (uint64_t{info.size} + piece - 1) / piece;
  // With a sink that takes large pieces (a file being written), reading,
  // unmasking and hashing run on a second thread, a piece ahead of it, and
  // only that thread touches the container until `ahead` is gone. Without a
  // sink, or with small pieces (a read into memory), there is nothing to
  // overlap with and the hand-offs would cost more than they save: the
  // pieces then go through the walk's reused buffer.
  std::optional<ReadAhead> ahead;
  if (count > 1 && sink && piece >= kMinThreadedPiece) {
    ahead.emplace(count, piece, fill, /*threaded=*/true);
  } else if (buffer->size() < piece) {
    buffer->resize(piece);
  }
  uint64_t remaining = info.size;
  for (uint64_t index = 0; remaining > 0; ++index) {
    if (beforeChunk) beforeChunk(remaining);
    const size_t chunk = length(index);
    const uint8_t* data =
        ahead ? ahead->Next() : fill(index, buffer->data()) ? buffer->data() : nullptr;
    if (!data) return DataResult::kReadFail;
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
