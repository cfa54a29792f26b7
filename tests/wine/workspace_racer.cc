// An unelevated program of the same user racing the stub in the temporary
// directory: it lists ITMPD_* folders as fast as it can and, for every one it
// sees, keeps trying to open it for delete and to rename it away and put a
// folder of its own (holding "racer.txt") in its place, until the folder is
// gone. Prints "ready" once it runs; when the file named by its argument
// appears, prints "seen N opened N stolen N" and exits 0.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::wstring TempDirectory() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, n <= MAX_PATH ? n : 0);
}

bool EndsWith(const std::wstring& text, const wchar_t* suffix) {
  const std::wstring s(suffix);
  return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

// Renames the folder away and plants one of the racer's own under its name.
bool Steal(const std::wstring& path) {
  if (!MoveFileW(path.c_str(), (path + L"_stolen").c_str())) return false;
  if (CreateDirectoryW(path.c_str(), nullptr)) {
    HANDLE mark = CreateFileW((path + L"\\racer.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::wstring temp = TempDirectory();
  std::set<std::wstring> seen, stolen;
  unsigned opened = 0;
  std::printf("ready\n");
  std::fflush(stdout);
  for (unsigned round = 0;; ++round) {
    if ((round & 63) == 0 && GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES) break;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp + L"ITMPD_*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring name = data.cFileName;
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || EndsWith(name, L"_stolen") ||
          stolen.count(name))
        continue;
      seen.insert(name);
      const std::wstring path = temp + name;
      HANDLE h = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        ++opened;
        CloseHandle(h);
      }
      if (Steal(path)) stolen.insert(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::printf("seen %u opened %u stolen %u\n", static_cast<unsigned>(seen.size()), opened,
              static_cast<unsigned>(stolen.size()));
  return 0;
}
