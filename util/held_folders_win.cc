#include "util/held_folders.h"

#include <windows.h>


#include "util/native_file_win.h"

namespace {

// Where the folders below the root start: after "C:\", "\\server\share\",
// "\\?\C:\", "\\?\Volume{...}\" or "\\?\UNC\server\share\"; npos for
// anything else.
size_t RootLength(const std::wstring& full) {
  size_t start = 0;
  if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    start = 8;
  } else if (full.compare(0, 4, L"\\\\?\\") == 0) {
    const size_t volume = full.find(L'\\', 4);
    return volume == std::wstring::npos ? volume : volume + 1;
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    start = 2;
  } else {
    return full.size() >= 3 && full[1] == L':' && full[2] == L'\\' ? 3 : std::wstring::npos;
  }
  const size_t server = full.find(L'\\', start);
  const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
  return share == std::wstring::npos ? share : share + 1;
}

HANDLE OpenFolder(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

void HeldFolders::Release() {
  for (intptr_t h : handles_) CloseHandle(reinterpret_cast<HANDLE>(h));
  handles_.clear();
  path_.clear();
}

bool HeldFolders::Hold(const std::wstring& folder) {
  Release();
  std::wstring full = FullPath(folder);
  for (wchar_t& c : full)
    if (c == L'/') c = L'\\';
  const size_t root = RootLength(full);
  if (root == std::wstring::npos) return false;
  if (full.back() != L'\\') full += L'\\';
  for (size_t end = full.find(L'\\', root); end != std::wstring::npos; end = full.find(L'\\', end + 1)) {
    const std::wstring prefix = full.substr(0, end);
    // Listing access is what makes the open count against a rename; a folder
    // the caller may not list is still checked, and on NTFS the open folders
    // below it keep it from being renamed.
    HANDLE h = OpenFolder(prefix, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
      h = OpenFolder(prefix, FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      Release();
      SetLastError(error);
      return false;
    }
    handles_.push_back(reinterpret_cast<intptr_t>(h));
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      Release();
      SetLastError(ERROR_CANT_RESOLVE_FILENAME);
      return false;
    }
  }
  path_ = full;
  return true;
}
