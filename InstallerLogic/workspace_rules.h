// Pure rules of the workspace: its name, its access list, and what the
// clean-up does with each directory entry. The Win32 side is workspace.h.
#pragma once

#include <cstdint>
#include <string>

// ignoreCase folds only "A"-"Z"; an empty suffix matches.
bool EndsWith(const std::wstring& text, const std::wstring& suffix, bool ignoreCase);

// "ITMPD_" tick "_" time "_" random.
std::wstring WorkspaceName(uint32_t tick, int64_t time, int random);

// A protected access list (no inherited entries): full control, inherited by
// everything inside, for SYSTEM and Administrators, plus `userSid` when it is
// not empty (a process without administrative rights must still work in it).
std::wstring WorkspaceSecurityDescriptor(const std::wstring& userSid);

enum class TreeEntryAction {
  kSkip,        // "." and ".."
  kDescend,     // a real directory: empty it, then remove it
  kRemoveLink,  // a reparse point to a directory: remove the link, never enter it
  kDeleteFile,  // a file, or a link to one (the link itself goes)
};
TreeEntryAction ClassifyTreeEntry(const std::wstring& name, uint32_t attributes);

// Attribute bits, as the platform defines them.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// Where a folder lives: its volume and its file index there.
struct FolderId {
  uint32_t volume = 0, indexHigh = 0, indexLow = 0;
};
// Whether what the workspace's name opens at removal (`now`, with its
// attributes) is still the folder created (`created`): the same folder, and
// neither a link nor a file put in its place.
bool IsCreatedFolder(const FolderId& created, const FolderId& now, uint32_t nowAttributes);
