// The workspace: a fresh directory under the user's temporary directory that
// only SYSTEM and Administrators (and a non-administrative user running the
// stub) can touch, and its removal on every path.
#pragma once

#include <string>
#include <vector>

#include "InstallerLogic/scoped_handle.h"

// True when the process runs with administrative rights (the Administrators
// group is enabled in its token).
bool IsAdministrator();

// The temporary directory with a trailing backslash; ".\" when none is known.
std::wstring GetTempDirectory();

// Owns the workspace directory from creation to removal. While it holds the
// directory, nobody can rename or delete it (or swap another in its place).
class Workspace {
 public:
  Workspace() = default;
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // Creates a directory that did not exist before, under a new random name,
  // with the protected access list; a bounded number of attempts. False:
  // traced, nothing was created.
  bool Create();
  // Ends with a backslash; empty until Create succeeds.
  const std::wstring& path() const { return path_; }
  // Lets go of the directory so that it can be removed.
  void Release() { hold_.Reset(); }

 private:
  std::wstring path_;
  ScopedHandle hold_;
};

// What a run has to remove; removed, files first, when the object goes.
class CleanupList {
 public:
  CleanupList() = default;
  ~CleanupList();
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;

  // A single trailing backslash is dropped.
  void AddDirectory(const std::wstring& path);

 private:
  std::vector<std::wstring> files_;
  std::vector<std::wstring> directories_;
};

// Removes the directory and everything in it, depth first. Links inside are
// removed, never entered; read-only entries lose that attribute first.
void DeleteDirectoryTree(const std::wstring& path);
