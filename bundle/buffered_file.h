// A read-only file with a read-ahead buffer, for readers that take a file
// apart a few bytes at a time (the inner bundle's record structure). Seek and
// Tell work on the logical position and cost no system call; reads of at
// least a buffer's size go straight to the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/platform.h"

class BufferedFile {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;

  bool Open(const std::wstring& path, FileAccess access);
  bool IsOpen() const { return file_.IsOpen(); }
  void Close();

  // Reads up to `n` bytes at the position; returns how many arrived.
  size_t Read(void* buffer, size_t n);
  // Absolute positioning; a negative offset fails and leaves the position.
  bool Seek(int64_t offset);
  bool SeekToEnd();
  int64_t Tell() const { return IsOpen() ? position_ : -1; }

 private:
  File file_;
  int64_t position_ = 0;
  std::vector<uint8_t> buffer_;  // file bytes [buffer_start_, buffer_start_ + buffer_length_)
  int64_t buffer_start_ = 0;
  size_t buffer_length_ = 0;
};
