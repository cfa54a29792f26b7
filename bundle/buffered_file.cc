#include "bundle/buffered_file.h"

#include <algorithm>
#include <cstring>

bool BufferedFile::Open(const std::wstring& path, FileAccess access) {
  Close();
  return file_.Open(path, access);
}

void BufferedFile::Close() {
  file_.Close();
  position_ = 0;
  buffer_start_ = 0;
  buffer_length_ = 0;
}

bool BufferedFile::Seek(int64_t offset) {
  if (!IsOpen() || offset < 0) return false;
  position_ = offset;
  return true;
}

bool BufferedFile::SeekToEnd() {
  const int64_t size = IsOpen() ? file_.Size() : -1;
  if (size < 0) return false;
  position_ = size;
  return true;
}

size_t BufferedFile::Read(void* destination, size_t n) {
  if (!IsOpen()) return 0;
  uint8_t* out = static_cast<uint8_t*>(destination);
  size_t done = 0;
  while (done < n) {
    // Whatever of the request the buffer already holds.
    if (position_ >= buffer_start_ &&
        position_ < buffer_start_ + static_cast<int64_t>(buffer_length_)) {
      const size_t at = static_cast<size_t>(position_ - buffer_start_);
      const size_t step = std::min(n - done, buffer_length_ - at);
      std::memcpy(out + done, buffer_.data() + at, step);
      done += step;
      position_ += static_cast<int64_t>(step);
      continue;
    }
    if (!file_.Seek(position_)) break;
    const size_t left = n - done;
    if (left >= kBufferSize) {
      const size_t got = file_.Read(out + done, left);
      done += got;
      position_ += static_cast<int64_t>(got);
      break;
    }
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    buffer_start_ = position_;
    buffer_length_ = file_.Read(buffer_.data(), buffer_.size());
    if (buffer_length_ == 0) break;
  }
  return done;
}
