// Ownership transfer of the platform types; the same on every platform.
#include "util/platform.h"

#include <utility>

File::~File() { Close(); }
File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
  }
  return *this;
}

MappedFile::~MappedFile() { Unmap(); }
MappedFile::MappedFile(MappedFile&& o) noexcept
    : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)),
      mapping_(std::exchange(o.mapping_, 0)), mapped_(std::exchange(o.mapped_, false)) {}
MappedFile& MappedFile::operator=(MappedFile&& o) noexcept {
  if (this != &o) {
    Unmap();
    data_ = std::exchange(o.data_, nullptr);
    size_ = std::exchange(o.size_, 0);
    mapping_ = std::exchange(o.mapping_, 0);
    mapped_ = std::exchange(o.mapped_, false);
  }
  return *this;
}
