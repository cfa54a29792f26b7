// The thin platform layer: the only OS services the portable core uses.
// util/platform_win.cc implements it for the product, util/platform_posix.cc
// for host builds. Paths are wide strings on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class FileAccess {
  kRead,          // read; others may read, write and delete
  kReadDenyWrite, // read; others may read but never write or delete
  kCreate,        // create or truncate for writing
  kAppend,        // append, created when missing; others may read and write.
                  // Refuses (fails on) a name that is a reparse point (a
                  // symbolic link on POSIX) instead of following it, and a
                  // file with more than one name (a hard link planted there).
};

// Move-only owner of an open file. Every failure leaves the object closed or
// unchanged; the destructor closes it.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const std::wstring& path, FileAccess access);
  bool IsOpen() const;
  void Close();

  // Reads up to `n` bytes; returns how many arrived (0 at end or on error).
  size_t Read(void* buffer, size_t n);
  // Writes all `n` bytes or reports false.
  bool Write(const void* buffer, size_t n);
  // Absolute positioning; a negative offset fails and leaves the position.
  bool Seek(int64_t offset);
  bool SeekToEnd();
  int64_t Tell() const;   // -1 when closed
  int64_t Size() const;   // -1 on failure

  // Platform handle (HANDLE on Windows, file descriptor on POSIX).
  intptr_t native() const { return handle_; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
};

// Move-only read-only view of a whole file; empty when mapping failed.
// A zero-length file maps successfully to an empty view.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool Map(const File& file);
  bool IsMapped() const { return mapped_; }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  void Unmap();

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  intptr_t mapping_ = 0;  // section handle on Windows; unused on POSIX
  bool mapped_ = false;
};

bool RemoveFile(const std::wstring& path);
// Renames, replacing an existing target.
bool MoveFileReplacing(const std::wstring& from, const std::wstring& to);
// Rename (replacing) or delete what `from` names through one handle opened
// on it without following it: a reparse point (symbolic link on POSIX) or a
// folder there is refused, never renamed or deleted, however the name
// changes meanwhile. For names in folders that HeldFolders holds.
bool MoveFileNotLink(const std::wstring& from, const std::wstring& to);
bool RemoveFileNotLink(const std::wstring& path);
// Whether the name itself is a reparse point (a symbolic link on POSIX);
// false for a plain file or directory and for a name that does not exist.
bool IsReparsePoint(const std::wstring& path);

// Processors the process may run on; at least 1.
uint32_t PlatformProcessorCount();

// Diagnostics services.
uint32_t PlatformTickCount();
uint32_t PlatformThreadId();
void PlatformDebugOutput(const char* text);  // the debugger channel
