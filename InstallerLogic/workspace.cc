#include "InstallerLogic/workspace.h"

#include <windows.h>
#include <sddl.h>

#include <ctime>
#include <vector>

#include "InstallerLogic/bitness.h"
#include "InstallerLogic/workspace_rules.h"
#include "diagnostics/trace.h"
#include "util/fault_injection.h"
#include "util/fs_redirection.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

constexpr int kCreateAttempts = 16;

std::string Narrow(const std::wstring& path) { return WideToMultiByte(path); }

// 0-32767 from the system's cryptographic generator (ADVAPI32's RtlGenRandom,
// exported as SystemFunction036 since XP), so the name cannot be predicted.
int RandomPart() {
  using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
  const auto gen = advapi ? reinterpret_cast<GenRandomFn>(reinterpret_cast<void*>(
                                GetProcAddress(advapi, "SystemFunction036")))
                          : nullptr;
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

bool CreateProtectedDirectory(const std::wstring& path, const std::wstring& sddl) {
  ScopedLocal<void> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            descriptor.out(), nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  if (InjectFault(FaultSite::kCreateDirectory)) return false;
  return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

// Open for listing, sharing everything but delete: the directory can then be
// neither renamed nor removed (nor can a directory above it be renamed) until
// the handle goes.
ScopedHandle HoldDirectory(const std::wstring& path) {
  return ScopedHandle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
  const std::wstring base = NameSeenByEveryView(temp);
  if (base != temp)
    DebugTrace(
        "[INSTALLER] temporary directory %s differs for 32- and 64-bit programs; "
        "workspace under %s\n",
        Narrow(temp).c_str(), Narrow(base).c_str());
  const bool admin = IsAdministrator();
  const std::wstring sddl = WorkspaceSecurityDescriptor(admin ? std::wstring() : CurrentUserSid());
  DWORD error = 0;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const int random = RandomPart();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const std::wstring dir = base + WorkspaceName(GetTickCount(), now, random);
    // Creation fails on a name that exists, so a directory planted in advance
    // is never used.
    if (!CreateProtectedDirectory(dir, sddl)) {
      error = GetLastError();
      continue;
    }
    hold_ = HoldDirectory(dir);
    path_ = dir + L"\\";
    return true;
  }
  DebugTrace("[INSTALLER] workspace not created under %s, le %d\n", Narrow(base).c_str(),
             static_cast<int>(error));
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
  for (const std::wstring& dir : directories_) {
    DebugTrace("Cleanup %s\n", Narrow(dir).c_str());
    DeleteDirectoryTree(dir);
  }
  DebugTrace("Done\n");
  if (redirected) FsRedirectionGuard::Revert(saved);
}

void CleanupList::AddDirectory(const std::wstring& path) {
  directories_.push_back(EndsWith(path, L"\\", false) ? path.substr(0, path.size() - 1) : path);
}

namespace {

void ClearReadOnly(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

void RemoveDirectoryEntry(const std::wstring& path) {
  DebugTrace("Delete Dir %s\n", Narrow(path).c_str());
  if (!InjectFault(FaultSite::kDelete)) RemoveDirectoryW(path.c_str());
}

}  // namespace

void DeleteDirectoryTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring child = path + L"\\" + found.cFileName;
      switch (ClassifyTreeEntry(found.cFileName, found.dwFileAttributes)) {
        case TreeEntryAction::kSkip:
          break;
        case TreeEntryAction::kDescend:
          ClearReadOnly(child, found.dwFileAttributes);
          DeleteDirectoryTree(child);
          break;
        case TreeEntryAction::kRemoveLink:
          RemoveDirectoryEntry(child);
          break;
        case TreeEntryAction::kDeleteFile:
          DebugTrace("Delete File %s\n", Narrow(child).c_str());
          // A link's own attributes are left alone: changing them could reach its target.
          if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ClearReadOnly(child, found.dwFileAttributes);
          RemoveFile(child);
          break;
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryEntry(path);
}
