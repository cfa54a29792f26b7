// Holds a workspace's setup.exe the way another program (a virus scanner,
// say) might, while the stub runs. It waits for the next new ITMPD_*
// workspace in the temporary directory; once the stub is done with the inner
// bundle's extraction from setup.exe (its trace says it looks for the extra
// file next: "Going to find file: A404"; the "ibnd" file itself appears while
// setup.exe is still being written), it opens setup.exe denying reading and
// writing to others, retrying while the stub still has it open, so the
// stub's next open of setup.exe (to hold it for its check) fails.
//
// Deleting is shared, but a file open elsewhere only disappears when the
// last handle closes, and its folder cannot go before that. So the locker
// also listens to the debug output (the DBWIN buffer, which makes every
// writer wait for the listener) and lets go when the stub's trace says its
// clean-up begins, before the stub deletes anything.
//
// Prints "ready" once listening, then "locked" and "released"; exits 0 when
// it did both, 1 otherwise (after two minutes at most).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "InstallerLogic/scoped_handle.h"

namespace {

std::wstring TempDirectory() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, n <= MAX_PATH ? n : 0);
}

// Every ITMPD_* folder, as "name|name|".
std::wstring Workspaces(const std::wstring& temp) {
  std::wstring names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((temp + L"ITMPD_*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names += std::wstring(data.cFileName) + L"|";
  while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

// setup.exe of a workspace not in `before` whose inner bundle is out, opened
// sharing only deletion; empty while there is none or the stub holds it.
ScopedHandle TryLock(const std::wstring& temp, const std::wstring& before) {
  const std::wstring now = Workspaces(temp);
  for (size_t start = 0, end; (end = now.find(L'|', start)) != std::wstring::npos; start = end + 1) {
    const std::wstring name = now.substr(start, end - start);
    if (before.find(name + L"|") != std::wstring::npos) continue;
    const std::wstring dir = temp + name + L"\\";
    if (GetFileAttributesW((dir + L"ibnd").c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    ScopedHandle lock(CreateFileW((dir + L"setup.exe").c_str(), GENERIC_READ, FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (lock) return lock;
  }
  return ScopedHandle();
}

void Say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

int main() {
  struct DebugBuffer {
    DWORD pid;
    char text[4096 - sizeof(DWORD)];
  };
  ScopedHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          sizeof(DebugBuffer), L"DBWIN_BUFFER"));
  ScopedHandle bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  ScopedHandle dataReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  auto* shared = mapping ? static_cast<DebugBuffer*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0))
                         : nullptr;
  if (!shared || !bufferReady || !dataReady) {
    Say("no debug output buffer");
    return 1;
  }
  const std::wstring temp = TempDirectory();
  const std::wstring before = Workspaces(temp);
  Say("ready");

  ScopedHandle lock;
  bool armed = false, locked = false, released = false;
  DWORD quietSince = 0;
  const DWORD start = GetTickCount();
  SetEvent(bufferReady.get());
  while (GetTickCount() - start < 120000) {
    if (WaitForSingleObject(dataReady.get(), 1) == WAIT_OBJECT_0) {
      // The writer waits for the next "buffer ready": the lock is gone
      // before the stub can trace (and so reach) its first deletion.
      const std::string line(shared->text, strnlen(shared->text, sizeof shared->text));
      if (line.find("Going to find file: A404") != std::string::npos) armed = true;
      if (locked && !released && line.find("Begin cleanup of") != std::string::npos) {
        lock.Reset();
        released = true;
        Say("released");
      }
      // Locked before the stub may trace on (and so go on to setup.exe).
      if (armed && !locked && (lock = TryLock(temp, before))) {
        locked = true;
        Say("locked");
      }
      quietSince = GetTickCount();
      SetEvent(bufferReady.get());
    }
    if (armed && !locked && (lock = TryLock(temp, before))) {
      locked = true;
      Say("locked");
    }
    // Listens on for a while: a writer that found the buffer waits for it.
    if (released && GetTickCount() - quietSince > 2000) break;
  }
  UnmapViewOfFile(shared);
  return locked && released ? 0 : 1;
}
