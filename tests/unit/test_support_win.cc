#include <windows.h>

#include <string>

#include "test_support_platform.h"

const wchar_t kPathSep = L'\\';

std::wstring MakeTempDirectory() {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  for (unsigned n = GetTickCount();; ++n) {
    std::wstring dir = std::wstring(base) + L"qxtest-" + std::to_wstring(GetCurrentProcessId()) +
                       L"-" + std::to_wstring(n);
    if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
  }
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

bool MakeHardLink(const std::wstring& link, const std::wstring& target) {
  return CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool MakeSymbolicLink(const std::wstring&, const std::wstring&) { return false; }

bool MakeDirectory(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != FALSE; }
