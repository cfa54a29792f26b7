#include "util/full_path_win.h"

#include <windows.h>

#include <vector>

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(path.size() + MAX_PATH);
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length >= buffer.size()) {
    buffer.assign(length + 1, L'\0');
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  }
  if (length == 0 || length >= buffer.size()) return std::wstring();
  return std::wstring(buffer.data(), length);
}

std::wstring NativePath(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (full.empty()) return full;
  if (full.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + full.substr(4);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + full.substr(2);
  return L"\\??\\" + full;
}
