#include "InstallerLogic/bitness.h"

#include <windows.h>

#include <vector>

#include "InstallerLogic/scoped_handle.h"
#include "util/system_function_win.h"

namespace {

std::wstring Wow64SystemDirectory() {
  using GetDirFn = UINT(WINAPI*)(LPWSTR, UINT);
  const auto fn = SystemFunction<GetDirFn>(L"kernel32.dll", "GetSystemWow64DirectoryW");
  if (!fn) return std::wstring();
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  const UINT length = fn(buffer.data(), static_cast<UINT>(buffer.size()));
  return length && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

std::wstring SystemDirectory() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  return length && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

struct FolderIdentity {
  bool known = false;
  DWORD volume = 0, indexHigh = 0, indexLow = 0;
};

FolderIdentity IdentityOf(const std::wstring& dir) {
  FolderIdentity id;
  ScopedHandle handle(CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle && GetFileInformationByHandle(handle.get(), &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
  }
  return id;
}

}  // namespace

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto fn = SystemFunction<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
  BOOL wow64 = FALSE;
  return fn && fn(GetCurrentProcess(), &wow64) && wow64;
}

bool IsWindows64() { return WindowsIs64Bit(kProcessIs64Bit, IsWow64()); }

std::wstring NameSeenByEveryView(const std::wstring& dir) {
  if (!IsWindows64()) return dir;
  const std::wstring counterpart = Wow64Counterpart(dir, SystemDirectory(), Wow64SystemDirectory());
  if (counterpart.empty()) return dir;
  const FolderIdentity other = IdentityOf(counterpart);
  if (!other.known) return dir;
  // A 64-bit process's system directory is the real one, which a 32-bit
  // setup program could not reach by that name; the counterpart is named
  // alike by both. Under WOW64 some folders under the system directory are
  // exempt from redirection: only a folder that this view really maps to
  // the counterpart moves.
  if (kProcessIs64Bit) return counterpart;
  const FolderIdentity seen = IdentityOf(dir);
  const bool same = seen.known && seen.volume == other.volume &&
                    seen.indexHigh == other.indexHigh && seen.indexLow == other.indexLow;
  return same ? counterpart : dir;
}
