// Win32 side of the platform layer, for the product. Only functions that
// Windows XP SP3 exports are called directly.
#include "util/platform.h"

#include "util/fault_injection.h"

#include <windows.h>

#include <utility>

#include "util/native_file_win.h"

namespace {
HANDLE H(intptr_t v) { return reinterpret_cast<HANDLE>(v); }

// A handle with delete access on the file `path` names, not following a
// reparse point; closed (invalid) when the name is one, or a folder.
HANDLE OpenFileNotLink(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (h != INVALID_HANDLE_VALUE &&
      (!GetFileInformationByHandle(h, &info) ||
       (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  return h;
}
}  // namespace


bool File::Open(const std::wstring& path, FileAccess access) {
  Close();
  if (InjectFault(FaultSite::kOpen)) return false;
  DWORD desired = GENERIC_READ, share = 0, disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (access) {
    case FileAccess::kRead:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      break;
    case FileAccess::kReadDenyWrite:
      // Readers only: nobody may change or delete what we validated while it is open.
      share = FILE_SHARE_READ;
      break;
    case FileAccess::kCreate:
      desired = GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = CREATE_ALWAYS;
      break;
    case FileAccess::kAppend:
      // Append-only access: every write lands at the end, also when another
      // process appends to the same file. Attributes for the checks below.
      desired = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
  }
  HANDLE h = CreateFileW(path.c_str(), desired, share, nullptr,
                         access == FileAccess::kCreate ? CREATE_NEW : disposition, flags, nullptr);
  // A new file is made without truncating: some file systems treat a
  // truncated file as one being replaced and write it out as it is closed.
  if (h == INVALID_HANDLE_VALUE && access == FileAccess::kCreate &&
      GetLastError() == ERROR_FILE_EXISTS)
    h = CreateFileW(path.c_str(), desired, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (access == FileAccess::kAppend) {
    // Opened without following: a link planted under the name is the object
    // opened here, and it is refused before anything is written through it.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || info.nNumberOfLinks > 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
      CloseHandle(h);
      return false;
    }
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool File::IsOpen() const { return handle_ != kInvalid; }

void File::Close() {
  if (handle_ != kInvalid) CloseHandle(H(std::exchange(handle_, kInvalid)));
}

size_t File::Read(void* buffer, size_t n) {
  if (!IsOpen() || InjectFault(FaultSite::kRead)) return 0;
  size_t done = 0;
  while (done < n) {
    DWORD want = static_cast<DWORD>(n - done > 0x40000000 ? 0x40000000 : n - done);
    DWORD got = 0;
    if (!ReadFile(H(handle_), static_cast<char*>(buffer) + done, want, &got, nullptr) || got == 0)
      break;
    done += got;
  }
  return done;
}

bool File::Write(const void* buffer, size_t n) {
  if (!IsOpen() || InjectFault(FaultSite::kWrite)) return false;
  size_t done = 0;
  while (done < n) {
    DWORD want = static_cast<DWORD>(n - done > 0x40000000 ? 0x40000000 : n - done);
    DWORD put = 0;
    if (!WriteFile(H(handle_), static_cast<const char*>(buffer) + done, want, &put, nullptr) ||
        put == 0)
      return false;
    done += put;
  }
  return true;
}

bool File::Seek(int64_t offset) {
  if (!IsOpen() || offset < 0) return false;
  LARGE_INTEGER li;
  li.QuadPart = offset;
  return SetFilePointerEx(H(handle_), li, nullptr, FILE_BEGIN) != 0;
}

bool File::SeekToEnd() {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return IsOpen() && SetFilePointerEx(H(handle_), zero, nullptr, FILE_END) != 0;
}

int64_t File::Tell() const {
  if (!IsOpen()) return -1;
  LARGE_INTEGER zero, pos;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(H(handle_), zero, &pos, FILE_CURRENT)) return -1;
  return pos.QuadPart;
}

int64_t File::Size() const {
  LARGE_INTEGER size;
  if (!IsOpen() || !GetFileSizeEx(H(handle_), &size)) return -1;
  return size.QuadPart;
}


bool MappedFile::Map(const File& file) {
  Unmap();
  int64_t size = file.Size();
  if (size < 0 || static_cast<uint64_t>(size) > 0xFFFFFFFFull) return false;
  if (size == 0) {  // a zero-length file cannot be mapped, but its view is simply empty
    mapped_ = true;
    return true;
  }
  HANDLE mapping = CreateFileMappingW(H(file.native()), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    CloseHandle(mapping);
    return false;
  }
  mapping_ = reinterpret_cast<intptr_t>(mapping);
  data_ = static_cast<const uint8_t*>(view);
  size_ = static_cast<uint64_t>(size);
  mapped_ = true;
  return true;
}

void MappedFile::Unmap() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(H(mapping_));
  data_ = nullptr;
  mapping_ = 0;
  size_ = 0;
  mapped_ = false;
}

bool RemoveFile(const std::wstring& path) {
  return !InjectFault(FaultSite::kDelete) && DeleteFileW(path.c_str()) != 0;
}

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  if (InjectFault(FaultSite::kRename)) return false;
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MoveFileNotLink(const std::wstring& from, const std::wstring& to) {
  if (InjectFault(FaultSite::kRename)) return false;
  HANDLE h = OpenFileNotLink(from);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = RenameByHandle(h, to);
  CloseHandle(h);
  return ok;
}

bool RemoveFileNotLink(const std::wstring& path) {
  if (InjectFault(FaultSite::kDelete)) return false;
  HANDLE h = OpenFileNotLink(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = DeleteWhenClosed(h);
  CloseHandle(h);
  return ok;
}

bool IsReparsePoint(const std::wstring& path) {
  // The attributes of a link are its own: GetFileAttributesW does not follow it.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

uint32_t PlatformTickCount() { return GetTickCount(); }
uint32_t PlatformThreadId() { return GetCurrentThreadId(); }

uint32_t PlatformProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}
void PlatformDebugOutput(const char* text) { OutputDebugStringA(text); }
