// The workspace: a fresh directory under the user's temporary directory that
// only SYSTEM and Administrators (and a non-administrative user running the
// stub) can touch, and its removal on every path.
#pragma once

#include <string>
#include <vector>

#include "InstallerLogic/scoped_handle.h"
#include "InstallerLogic/workspace_rules.h"

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
  // with the protected access list, and holds it from the same call on; a
  // bounded number of attempts. False (no directory that can be held):
  // traced, nothing was created.
  bool Create();
  // Ends with a backslash; empty until Create succeeds.
  const std::wstring& path() const { return path_; }
  // Lets go of the (emptied) directory and removes it, if what its name now
  // opens is still the directory created: never a folder or link put in its
  // place. False: left as it is.
  bool RemoveEmptyRoot();

 private:
  std::wstring path_;
  ScopedHandle hold_;
  FolderId identity_;
};

// What a run has to remove; removed, files first, when the object goes.
class CleanupList {
 public:
  CleanupList() = default;
  ~CleanupList();
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;

  // A single trailing backslash is dropped. `held`: the workspace that holds
  // the directory until its contents are gone (it must outlive this list).
  void AddDirectory(const std::wstring& path, Workspace* held = nullptr);

 private:
  std::vector<std::wstring> files_;
  std::vector<std::wstring> directories_;
  std::vector<Workspace*> held_;
};

// Removes the directory and everything in it, depth first. Links inside are
// removed, never entered; read-only entries lose that attribute first. With
// `held`, the contents go while it holds the directory (so no name inside can
// be re-pointed), and the directory itself through Workspace::RemoveEmptyRoot.
void DeleteDirectoryTree(const std::wstring& path, Workspace* held = nullptr);
