// Holds every folder of a path, from the root down, each opened without
// following a link and, where the platform allows, not sharing delete: while
// held, no folder on the way can be renamed away, replaced or turned into a
// link, so names under the path keep reaching what was checked. The elevated
// stub works in folders that the user's own unelevated programs can change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class HeldFolders {
 public:
  HeldFolders() = default;
  ~HeldFolders() { Release(); }
  HeldFolders(HeldFolders&& other) noexcept;
  HeldFolders& operator=(HeldFolders&& other) noexcept;
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  // `folder`: absolute, or relative to the current directory. False, and
  // nothing held, when a folder on the way is a link (a reparse point; a
  // symbolic link on POSIX), not a folder, or cannot be opened; the
  // platform's last error then says which (ERROR_CANT_RESOLVE_FILENAME for
  // a link or a file on Windows).
  bool Hold(const std::wstring& folder);
  void Release();
  // The absolute path held, ending with a separator; empty when nothing is.
  const std::wstring& path() const { return path_; }
  // The last folder's handle (file descriptor on POSIX); -1 when it is the
  // root or nothing is held.
  intptr_t last() const { return handles_.empty() ? -1 : handles_.back(); }

 private:
  std::vector<intptr_t> handles_;
  std::wstring path_;
};
