#include "util/native_file_win.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "util/system_function_win.h"

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

namespace {
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

bool SetFileInformation(HANDLE h, void* info, size_t size, FILE_INFORMATION_CLASS kind) {
  const auto set_info = SystemFunction<NtSetInformationFileFn>(L"ntdll.dll", "NtSetInformationFile");
  IO_STATUS_BLOCK io = {};
  return set_info && set_info(h, &io, info, static_cast<ULONG>(size), kind) >= 0;
}
}  // namespace

bool DeleteWhenClosed(HANDLE h) {
  BOOLEAN remove = TRUE;  // FILE_DISPOSITION_INFORMATION
  return SetFileInformation(h, &remove, sizeof remove, FileDispositionInformation);
}

bool RenameByHandle(HANDLE h, const std::wstring& to) {
  const std::wstring target = NativePath(to);
  if (target.empty()) return false;
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  // FILE_RENAME_INFORMATION with the name in place, pointer-aligned.
  std::vector<ULONG_PTR> buffer((offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes) / sizeof(ULONG_PTR) + 1);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<ULONG>(nameBytes);
  memcpy(info->FileName, target.data(), nameBytes);
  return SetFileInformation(h, info, buffer.size() * sizeof(ULONG_PTR), FileRenameInformation);
}
