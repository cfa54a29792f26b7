#include "InstallerLogic/workspace.h"

#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <ctime>
#include <vector>

#include "InstallerLogic/bitness.h"
#include "InstallerLogic/workspace_rules.h"
#include "diagnostics/trace.h"
#include "util/fault_injection.h"
#include "util/fs_redirection.h"
#include "util/native_file_win.h"
#include "util/held_folders.h"
#include "util/platform.h"
#include "util/system_function_win.h"
#include "util/text_conv.h"

namespace {

constexpr int kCreateAttempts = 16;

std::string Narrow(const std::wstring& path) { return WideToMultiByte(path); }

// 0-32767 from the system's cryptographic generator (ADVAPI32's RtlGenRandom,
// exported as SystemFunction036 since XP), so the name cannot be predicted.
int RandomPart() {
  using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  const auto gen = SystemFunction<GenRandomFn>(L"advapi32.dll", "SystemFunction036");
  unsigned short value = 0;
  if (gen && gen(&value, sizeof value)) return value & 0x7FFF;
  // Without it the name is guessable but still fresh: creation never reuses
  // a directory that exists.
  return static_cast<int>(GetTickCount() * 2654435761u >> 17);
}


std::wstring CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::wstring();
  ScopedHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return std::wstring();
  TOKEN_USER user;
  memcpy(&user, buffer.data(), sizeof user);
  ScopedLocal<wchar_t> text;
  if (!ConvertSidToStringSidW(user.User.Sid, text.out())) return std::wstring();
  return text.get();
}

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFn = ULONG(NTAPI*)(LONG);

// The identity of what `h` opens (and its attributes, when asked for).
bool IdentityOf(HANDLE h, FolderId* id, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  if (attributes) *attributes = info.dwFileAttributes;
  return true;
}

// Creates the directory and opens it in one step, sharing read and write but
// not delete: from its first moment nobody else can rename, delete or replace
// it, until the handle goes. A name that exists fails (a directory planted in
// advance is never used). Invalid handle and `*error` set on failure.
ScopedHandle CreateHeldDirectory(const std::wstring& path, const std::wstring& sddl, DWORD* error) {
  const auto create = SystemFunction<NtCreateFileFn>(L"ntdll.dll", "NtCreateFile");
  const auto to_error = SystemFunction<NtStatusToErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
  ScopedLocal<void> descriptor;
  const std::wstring native = NativePath(path);
  *error = ERROR_PROC_NOT_FOUND;
  if (!create || !to_error) return ScopedHandle();
  *error = ERROR_INVALID_NAME;
  if (native.empty() || native.size() * sizeof(wchar_t) > 0xFFFE) return ScopedHandle();
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            descriptor.out(), nullptr)) {
    *error = GetLastError();
    return ScopedHandle();
  }
  if (InjectFault(FaultSite::kCreateDirectory)) {
    *error = ERROR_ACCESS_DENIED;
    return ScopedHandle();
  }
  UNICODE_STRING name;
  name.Buffer = const_cast<wchar_t*>(native.c_str());
  name.Length = static_cast<USHORT>(native.size() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor.get());
  IO_STATUS_BLOCK io = {};
  HANDLE handle = nullptr;
  // No DELETE access: every later open would then have to share delete, and
  // the setup program's hold on its current directory does not.
  const LONG status = create(&handle, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             &attributes, &io, nullptr,
                             FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                             FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) {
    *error = to_error(status);
    return ScopedHandle();
  }
  return ScopedHandle(handle);
}

// The folder `path` names now, with every link on the way resolved
// (GetFinalPathNameByHandleW, from Vista on; `path` itself where that is
// missing or fails), and that folder's identity in `*id`.
std::wstring WithLinksResolved(const std::wstring& path, FolderId* id) {
  *id = FolderId();
  ScopedHandle folder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder || !IdentityOf(folder.get(), id)) return path;
  using GetFinalFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto get_final = SystemFunction<GetFinalFn>(L"kernel32.dll", "GetFinalPathNameByHandleW");
  if (!get_final) return path;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length = get_final(folder.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.assign(length + 1, L'\0');
    length = get_final(folder.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (length == 0 || length >= buffer.size()) return path;
  std::wstring final(buffer.data(), length);
  // "\\?\C:\..." and "\\?\UNC\server\..." in their usual form; a volume
  // without a drive letter keeps its "\\?\Volume{...}" name.
  if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    final = L"\\\\" + final.substr(8);
  else if (final.compare(0, 4, L"\\\\?\\") == 0 && final.size() >= 6 && final[5] == L':')
    final = final.substr(4);
  return final;
}

bool SameFolder(intptr_t handle, const FolderId& id) {
  FolderId now;
  return IdentityOf(reinterpret_cast<HANDLE>(handle), &now) && now.volume == id.volume &&
         now.indexHigh == id.indexHigh && now.indexLow == id.indexLow;
}

}  // namespace

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &admins))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
  FreeSid(admins);
  return member != FALSE;
}

std::wstring GetTempDirectory() {
  std::wstring result = L".\\";
  std::vector<wchar_t> buffer(1024);
  DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length >= buffer.size()) {
    // The answer is the size needed, not a path: ask again with that much room.
    buffer.assign(length + 1, L'\0');
    length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) length = 0;
  }
  if (length != 0) result.assign(buffer.data(), length);
  if (!EndsWith(result, L"\\", false)) result += L'\\';
  return result;
}

bool Workspace::Create() {
  // Creation, extraction, the setup program and the removal must all reach
  // the same folder, whatever redirection each of them sees.
  const std::wstring temp = GetTempDirectory();
  const std::wstring seen = NameSeenByEveryView(temp);
  if (seen != temp)
    DebugTrace(
        "[INSTALLER] temporary directory %s differs for 32- and 64-bit programs; "
        "workspace under %s\n",
        Narrow(temp).c_str(), Narrow(seen).c_str());
  // The user can re-point links on the way to the temporary directory (TEMP
  // naming a junction, say): the workspace goes under the folder they lead
  // to now, named without links, and every folder of that name is held until
  // the workspace is gone, so that every later use of the name, by path,
  // reaches the same folders.
  FolderId resolvedId;
  const std::wstring resolved = WithLinksResolved(seen, &resolvedId);
  // A drive's root (nothing to hold below it) cannot be a link.
  if (!base_.Hold(resolved) || (base_.last() != -1 && !SameFolder(base_.last(), resolvedId))) {
    // ERROR_CANT_RESOLVE_FILENAME: a link on the way, or the name now leads elsewhere.
    const DWORD error = base_.path().empty() ? GetLastError() : ERROR_CANT_RESOLVE_FILENAME;
    DebugTrace("[INSTALLER] workspace not created under %s, le %d\n", Narrow(resolved).c_str(),
               static_cast<int>(error));
    base_.Release();
    return false;
  }
  const std::wstring& base = base_.path();
  if (_wcsicmp(base.c_str(), seen.c_str()) != 0)
    DebugTrace("[INSTALLER] temporary directory %s is %s without links\n", Narrow(seen).c_str(),
               Narrow(base).c_str());
  const bool admin = IsAdministrator();
  const std::wstring sddl = WorkspaceSecurityDescriptor(admin ? std::wstring() : CurrentUserSid());
  DWORD error = 0;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const int random = RandomPart();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const std::wstring dir = base + WorkspaceName(GetTickCount(), now, random);
    hold_ = CreateHeldDirectory(dir, sddl, &error);
    if (!hold_) continue;
    if (!IdentityOf(hold_.get(), &identity_)) {
      // Without its identity the directory could not be told from a
      // stand-in at removal: no run in it.
      error = GetLastError();
      hold_.Reset();
      RemoveDirectoryW(dir.c_str());
      continue;
    }
    path_ = dir + L"\\";
    return true;
  }
  DebugTrace("[INSTALLER] workspace not created under %s, le %d\n", Narrow(base).c_str(),
             static_cast<int>(error));
  return false;
}

namespace {

constexpr DWORD kRemovalRetryMs = 3000;
constexpr DWORD kRemovalPollMs = 100;

void ClearReadOnly(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// Calls `visit(child path, action, attributes)` for each entry of `path`
// but "." and ".."; false when the folder cannot be listed.
template <typename Visit>
bool ForEachEntry(const std::wstring& path, Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const TreeEntryAction action = ClassifyTreeEntry(found.cFileName, found.dwFileAttributes);
    if (action != TreeEntryAction::kSkip) visit(path + L"\\" + found.cFileName, action, found.dwFileAttributes);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

// Removes everything inside `path`, depth first; true when nothing is left.
// `trace`: each attempt is traced (retries are not).
bool EmptyDirectory(const std::wstring& path, bool trace) {
  bool empty = true;
  const bool listed = ForEachEntry(path, [&](const std::wstring& child, TreeEntryAction action,
                                             DWORD attributes) {
    bool removed = true;
    switch (action) {
      case TreeEntryAction::kSkip:
        break;
      case TreeEntryAction::kDescend:
        ClearReadOnly(child, attributes);
        removed = EmptyDirectory(child, trace);
        if (trace) DebugTrace("Delete Dir %s\n", Narrow(child).c_str());
        removed = !InjectFault(FaultSite::kDelete) && removed && RemoveDirectoryW(child.c_str());
        break;
      case TreeEntryAction::kRemoveLink:
        if (trace) DebugTrace("Delete Dir %s\n", Narrow(child).c_str());
        removed = !InjectFault(FaultSite::kDelete) && RemoveDirectoryW(child.c_str());
        break;
      case TreeEntryAction::kDeleteFile:
        if (trace) DebugTrace("Delete File %s\n", Narrow(child).c_str());
        // A link's own attributes are left alone: changing them could reach its target.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) ClearReadOnly(child, attributes);
        removed = RemoveFile(child);
        break;
    }
    empty = empty && removed;
  });
  return listed ? empty : GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Names what is left inside `path` for deletion at the next restart, deepest
// first (a folder only empties once its entries are gone); links are named
// themselves, never entered. The number of entries named.
int ScheduleContentsAtRestart(const std::wstring& path) {
  int count = 0;
  ForEachEntry(path, [&](const std::wstring& child, TreeEntryAction action, DWORD) {
    if (action == TreeEntryAction::kDescend) count += ScheduleContentsAtRestart(child);
    if (MoveFileExW(child.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++count;
  });
  return count;
}

}  // namespace

ScopedHandle Workspace::OpenCreated(unsigned long access, RootState* state) const {
  const std::wstring dir = path_.substr(0, path_.size() - 1);
  ScopedHandle handle(CreateFileW(dir.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!handle) {
    // Only a folder in use elsewhere is worth waiting for; one gone is not ours.
    const DWORD error = GetLastError();
    *state = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RootState::kReplaced
                                                                              : RootState::kBusy;
    return handle;
  }
  FolderId now;
  DWORD attributes = 0;
  if (!IdentityOf(handle.get(), &now, &attributes) || !IsCreatedFolder(identity_, now, attributes)) {
    *state = RootState::kReplaced;
    return ScopedHandle();
  }
  *state = RootState::kBusy;
  return handle;
}

Workspace::RootState Workspace::RemoveEmptyRoot() {
  // The hold has no delete access (see CreateHeldDirectory), and nothing can
  // open the folder with it while the hold, which does not share delete, is
  // open: the emptied folder is let go and opened once more, without
  // following a link and again not sharing delete, and removed only if it is
  // the folder created. One put in its place in the moment between is left
  // alone (and the emptied workspace, renamed away, stays where it was put).
  hold_.Reset();
  RootState state;
  ScopedHandle again = OpenCreated(DELETE | FILE_READ_ATTRIBUTES, &state);
  if (again) {
    if (DeleteWhenClosed(again.get())) return RootState::kRemoved;
    again.Reset();
  }
  // Still in use (a process's current folder, say): held again for the next
  // attempt, if it is still the folder created.
  if (state == RootState::kBusy)
    hold_ = OpenCreated(FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &state);
  if (state == RootState::kReplaced)
    DebugTrace("[INSTALLER] %s is no longer the workspace; left alone\n",
               Narrow(path_.substr(0, path_.size() - 1)).c_str());
  return state;
}

bool Workspace::Remove() {
  if (!hold_) return false;
  const std::wstring dir = path_.substr(0, path_.size() - 1);
  const DWORD start = GetTickCount();
  for (bool first = true;; first = false) {
    // The contents go only while the folder is held: no name inside can be
    // re-pointed then.
    const bool empty = EmptyDirectory(dir, first);
    if (first) DebugTrace("Delete Dir %s\n", Narrow(dir).c_str());
    if (empty && !InjectFault(FaultSite::kDelete)) {
      const RootState state = RemoveEmptyRoot();
      if (state == RootState::kRemoved) return true;
      if (state == RootState::kReplaced || !hold_) return false;
    }
    if (GetTickCount() - start >= kRemovalRetryMs) break;
    if (first)
      DebugTrace("[INSTALLER] workspace still in use; retrying its removal for up to %u ms\n",
                 static_cast<unsigned>(kRemovalRetryMs));
    Sleep(kRemovalPollMs);
  }
  // Held still: what is left is named by the path of the folder created.
  const int entries = ScheduleContentsAtRestart(dir) +
                      (MoveFileExW(dir.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0);
  DebugTrace("[INSTALLER] %d entries of the workspace are left to be removed at the next restart\n",
             entries);
  return false;
}

CleanupList::~CleanupList() {
  void* saved = nullptr;
  const bool redirected = IsWow64();
  if (redirected) FsRedirectionGuard::Disable(&saved);
  DebugTrace("Begin cleanup of %d files\n", static_cast<int>(files_.size()));
  for (const std::wstring& file : files_) {
    DebugTrace("Cleanup %s\n", Narrow(file).c_str());
    RemoveFile(file);
  }
  DebugTrace("Done\n");
  DebugTrace("Begin cleanup of %d dirs\n", static_cast<int>(directories_.size()));
  for (const Directory& entry : directories_) {
    DebugTrace("Cleanup %s\n", Narrow(entry.path).c_str());
    if (entry.workspace)
      entry.workspace->Remove();
    else
      DeleteDirectoryTree(entry.path);
  }
  DebugTrace("Done\n");
  if (redirected) FsRedirectionGuard::Revert(saved);
}

void CleanupList::AddDirectory(const std::wstring& path) {
  directories_.push_back({EndsWith(path, L"\\", false) ? path.substr(0, path.size() - 1) : path, nullptr});
}

void CleanupList::AddDirectory(Workspace* workspace) {
  AddDirectory(workspace->path());
  directories_.back().workspace = workspace;
}

void DeleteDirectoryTree(const std::wstring& path) {
  EmptyDirectory(path, true);
  DebugTrace("Delete Dir %s\n", Narrow(path).c_str());
  if (!InjectFault(FaultSite::kDelete)) RemoveDirectoryW(path.c_str());
}
