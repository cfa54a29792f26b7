// The platform-neutral part of HeldFolders; holding and letting go are
// util/held_folders_win.cc and util/held_folders_posix.cc.
#include "util/held_folders.h"

#include <utility>

HeldFolders::HeldFolders(HeldFolders&& other) noexcept
    : handles_(std::move(other.handles_)), path_(std::move(other.path_)) {
  other.handles_.clear();
  other.path_.clear();
}

HeldFolders& HeldFolders::operator=(HeldFolders&& other) noexcept {
  if (this != &other) {
    Release();
    handles_ = std::move(other.handles_);
    path_ = std::move(other.path_);
    other.handles_.clear();
    other.path_.clear();
  }
  return *this;
}
