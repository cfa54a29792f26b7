#include "bundle/nested_extraction.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <algorithm>
#include <new>
#include <vector>

#include "util/write_behind.h"

namespace {
// The outer data's tail that is searched for the nested trailer: enough for
// a chain of a few hundred attachments after the one sought.
constexpr uint32_t kTailWindow = 16 * 1024;
// Pieces handed to the thread; the outer extraction streams 1 MiB pieces.
constexpr size_t kPiece = 0x100000;
}  // namespace

NestedExtraction::NestedExtraction(std::string type, std::wstring destination)
    : type_(std::move(type)), destination_(std::move(destination)) {}

NestedExtraction::~NestedExtraction() {
  worker_.reset();
  out_.Close();
  if (active_ && !taken_) RemoveFile(destination_);
}

void NestedExtraction::Abandon() {
  worker_.reset();
  out_.Close();
  if (active_) RemoveFile(destination_);
  active_ = false;
}

bool NestedExtraction::Prepare(File& container, const AttachmentInfo& outer) {
  Abandon();
  if (outer.dataOffset < 0 || outer.size < kTrailerSize) return false;
  const uint32_t window = std::min(outer.size, kTailWindow);
  std::vector<uint8_t> tail(window);
  if (!container.Seek(outer.dataOffset + (outer.size - window)) ||
      container.Read(tail.data(), window) != window)
    return false;
  MaskAttachmentBytes(tail.data(), window);

  // The nested chain's trailers, nearest to the outer data's end first, as
  // far as the window reaches; positions are relative to the outer data.
  const int64_t base = static_cast<int64_t>(outer.size) - window;
  int64_t next = static_cast<int64_t>(outer.size) - static_cast<int64_t>(kTrailerSize);
  bool found = false;
  while (!found && next >= base) {
    if (!ParseTrailer(tail.data() + (next - base), next, &nested_)) return false;
    found = nested_.type == type_;
    next = nested_.dataOffset - static_cast<int64_t>(kTrailerSize);
  }
  if (!found || nested_.dataOffset < 0 || nested_.size == 0) return false;

  if (!out_.Open(destination_, FileAccess::kCreate)) return false;
  active_ = true;
  written_ = false;
  outer_verified_ = false;
  fed_ = 0;
  try {
    md5_ = std::make_unique<CryptoPP::Weak1::MD5>();
    worker_ = std::make_unique<WriteBehind>(
        kPiece,
        [this](uint8_t* data, size_t n) {
          MaskAttachmentBytes(data, n);
          md5_->Update(data, n);
          return out_.Write(data, n);
        },
        /*threaded=*/true);
  } catch (const std::bad_alloc&) {
    Abandon();
    return false;
  }
  return true;
}

void NestedExtraction::Feed(const uint8_t* plain, size_t n) {
  if (!active_ || !worker_) return;
  const uint64_t start = fed_;
  fed_ += n;
  const uint64_t from = std::max<uint64_t>(start, static_cast<uint64_t>(nested_.dataOffset));
  const uint64_t to = std::min<uint64_t>(fed_, static_cast<uint64_t>(nested_.dataOffset) + nested_.size);
  // Pieces larger than the ring's are handed over in parts.
  for (uint64_t at = from; at < to;) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(to - at, kPiece));
    if (!worker_->Push(plain + (at - start), step)) {
      Abandon();
      return;
    }
    at += step;
  }
}

void NestedExtraction::OuterVerified() { outer_verified_ = active_; }

void NestedExtraction::Settle() {
  if (!worker_) return;
  const bool ok = worker_->Finish();
  worker_.reset();
  out_.Close();
  written_ = ok && fed_ >= static_cast<uint64_t>(nested_.dataOffset) + nested_.size;
  if (written_) md5_->Final(digest_.data());
}

bool NestedExtraction::Holds(const AttachmentInfo& found) const {
  return active_ && written_ && outer_verified_ && found.type == nested_.type &&
         found.dataOffset == nested_.dataOffset && found.size == nested_.size &&
         found.digest == nested_.digest;
}

bool NestedExtraction::DigestMatches(const AttachmentInfo& found) const {
  return written_ && digest_ == found.digest;
}
