// POSIX side of the platform layer, for host builds (tests, the packer).
#include "util/platform.h"

#include "util/fault_injection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "util/text_conv.h"

namespace {
std::string NativePath(const std::wstring& path) { return WideToMultiByte(path); }
}  // namespace


bool File::Open(const std::wstring& path, FileAccess access) {
  Close();
  if (InjectFault(FaultSite::kOpen)) return false;
  std::string native = NativePath(path);
  if (native.empty()) return false;
  int fd = -1;
  switch (access) {
    case FileAccess::kRead:
    case FileAccess::kReadDenyWrite:  // POSIX has no mandatory sharing modes
      fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
      break;
    case FileAccess::kCreate:
      fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      break;
    case FileAccess::kAppend:
      // O_NOFOLLOW: a symbolic link under the name fails the open.
      fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
      break;
  }
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (access == FileAccess::kAppend && st.st_nlink > 1)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool File::IsOpen() const { return handle_ != kInvalid; }

void File::Close() {
  if (handle_ != kInvalid) ::close(static_cast<int>(std::exchange(handle_, kInvalid)));
}

size_t File::Read(void* buffer, size_t n) {
  if (!IsOpen() || InjectFault(FaultSite::kRead)) return 0;
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(static_cast<int>(handle_), static_cast<char*>(buffer) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

bool File::Write(const void* buffer, size_t n) {
  if (!IsOpen() || InjectFault(FaultSite::kWrite)) return false;
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(static_cast<int>(handle_), static_cast<const char*>(buffer) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

bool File::Seek(int64_t offset) {
  if (!IsOpen() || offset < 0) return false;
  return ::lseek(static_cast<int>(handle_), offset, SEEK_SET) == offset;
}

bool File::SeekToEnd() { return IsOpen() && ::lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0; }

int64_t File::Tell() const {
  if (!IsOpen()) return -1;
  return ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
}

int64_t File::Size() const {
  struct stat st;
  if (!IsOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}


bool MappedFile::Map(const File& file) {
  Unmap();
  int64_t size = file.Size();
  if (size < 0) return false;
  if (size == 0) {
    mapped_ = true;
    return true;
  }
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE,
                 static_cast<int>(file.native()), 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<const uint8_t*>(p);
  size_ = static_cast<uint64_t>(size);
  mapped_ = true;
  return true;
}

void MappedFile::Unmap() {
  if (data_) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

bool RemoveFile(const std::wstring& path) {
  if (InjectFault(FaultSite::kDelete)) return false;
  std::string native = NativePath(path);
  return !native.empty() && ::unlink(native.c_str()) == 0;
}

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  if (InjectFault(FaultSite::kRename)) return false;
  std::string a = NativePath(from), b = NativePath(to);
  return !a.empty() && !b.empty() && ::rename(a.c_str(), b.c_str()) == 0;
}

// Host builds run unelevated: checking the name first is enough there.
bool MoveFileNotLink(const std::wstring& from, const std::wstring& to) {
  return !IsReparsePoint(from) && MoveFileReplacing(from, to);
}

bool RemoveFileNotLink(const std::wstring& path) { return !IsReparsePoint(path) && RemoveFile(path); }

bool IsReparsePoint(const std::wstring& path) {
  std::string native = NativePath(path);
  struct stat st;
  return !native.empty() && ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

uint32_t PlatformTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

uint32_t PlatformThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t PlatformProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1;
}

void PlatformDebugOutput(const char* text) {
  // Host builds have no debugger channel; the packer and tests use the trace sink.
  (void)text;
}
