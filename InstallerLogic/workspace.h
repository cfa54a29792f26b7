// The workspace: a fresh directory under the user's temporary directory that
// only SYSTEM and Administrators (and a non-administrative user running the
// stub) can touch, and its removal on every path.
#pragma once

#include <string>
#include <vector>

#include "InstallerLogic/scoped_handle.h"
#include "InstallerLogic/workspace_rules.h"
#include "util/held_folders.h"

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
  // with the protected access list, in the temporary directory named without
  // links and held; holds it from the same call on; a bounded number of
  // attempts. False (no directory that can be held): traced, nothing was
  // created.
  bool Create();
  // Ends with a backslash; empty until Create succeeds.
  const std::wstring& path() const { return path_; }
  // Removes the directory with everything in it, its contents while it is
  // held. What a running process still keeps in use is retried for a few
  // seconds, then left to be removed at the next restart. Never touches a
  // folder or link put in the directory's place. False: something remains.
  bool Remove();

 private:
  enum class RootState { kRemoved, kBusy, kReplaced };
  // Lets go of the emptied directory and deletes it if its name still opens
  // the directory created; kBusy: still there, held again.
  RootState RemoveEmptyRoot();
  // Opens what the directory's name now names, not following a link;
  // kReplaced when that is not the directory created (or nothing).
  ScopedHandle OpenCreated(unsigned long access, RootState* state) const;

  HeldFolders base_;  // every folder above the workspace, held first, let go last
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

  // A single trailing backslash is dropped.
  void AddDirectory(const std::wstring& path);
  // The workspace removes itself (Workspace::Remove); it must outlive this list.
  void AddDirectory(Workspace* workspace);

 private:
  struct Directory {
    std::wstring path;
    Workspace* workspace;
  };
  std::vector<std::wstring> files_;
  std::vector<Directory> directories_;
};

// Removes the directory and everything in it, depth first. Links inside are
// removed, never entered; read-only entries lose that attribute first.
void DeleteDirectoryTree(const std::wstring& path);
