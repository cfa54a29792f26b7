// A stand-in setup program for the installation tests. It writes a report of
// what it received to the file named by QX_PROBE_REPORT: its arguments as
// CommandLineToArgvW returns them (hex of UTF-8, so blanks and quotes survive),
// its current directory, every file below it with size and SHA-256, and the
// directory's access list, and whether it runs as an administrator (by the
// stub's own test). QX_PROBE_EXIT chooses its exit code; with
// QX_PROBE_READONLY it leaves a read-only file in a sub-directory behind; with
// QX_PROBE_LINGER=MARKER it leaves a copy of itself running in the workspace
// (its current folder and its image there) for 8 seconds, which then creates
// MARKER and ends.
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "InstallerLogic/workspace.h"
#include "util/text_conv.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Digest(const std::wstring& path, long long* size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "unreadable";
  CryptoPP::SHA256 sha;
  std::vector<unsigned char> buffer(1 << 16);
  DWORD got = 0;
  *size = 0;
  while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got) {
    sha.Update(buffer.data(), got);
    *size += got;
  }
  CloseHandle(h);
  std::string digest(sha.DigestSize(), '\0');
  sha.Final(reinterpret_cast<unsigned char*>(&digest[0]));
  return Hex(digest);
}

void ListFiles(const std::wstring& dir, const std::wstring& relative, std::string* report) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(dir + L"\\" + name, rel, report);
    } else {
      long long size = 0;
      const std::string digest = Digest(dir + L"\\" + name, &size);
      *report += "file\t" + WideToMultiByte(rel) + "\t" + std::to_string(size) + "\t" + digest + "\n";
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

std::string AccessList(const std::wstring& dir) {
  DWORD size = 0;
  GetFileSecurityW(dir.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<unsigned char> sd(size ? size : 1);
  if (!GetFileSecurityW(dir.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size)) return "?";
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.data(), SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr))
    return "?";
  const std::string out = WideToMultiByte(text);
  LocalFree(text);
  return out;
}


struct WindowSearch {
  DWORD pid;
  int visible;
};

BOOL CALLBACK CountVisible(HWND w, LPARAM p) {
  auto* search = reinterpret_cast<WindowSearch*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == search->pid && IsWindowVisible(w)) ++search->visible;
  return TRUE;
}

// Visible top-level windows of the process that started this one (the
// stub's progress dialog must be hidden by now).
int VisibleParentWindows() {
  DWORD parent = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snap);
  WindowSearch search = {parent, 0};
  EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&search));
  return parent ? search.visible : -1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  std::string report;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc == 3 && std::wstring(argv[1]) == L"--linger") {
    Sleep(8000);
    CloseHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return 0;
  }
  for (int i = 0; argv && i < argc; ++i) report += "arg\t" + Hex(WideToMultiByte(argv[i])) + "\n";
  if (argv) LocalFree(argv);

  wchar_t cwd[MAX_PATH * 4] = {0};
  GetCurrentDirectoryW(MAX_PATH * 4, cwd);
  std::wstring dir = cwd;
  if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  report += "cwd\t" + WideToMultiByte(dir) + "\n";
  report += "bits\t" + std::to_string(sizeof(void*) * 8) + "\n";
  ListFiles(dir, L"", &report);
  report += "sddl\t" + AccessList(dir) + "\n";
  report += std::string("admin\t") + (IsAdministrator() ? "1" : "0") + "\n";
  report += "parentwindows\t" + std::to_string(VisibleParentWindows()) + "\n";

  if (_wgetenv(L"QX_PROBE_READONLY")) {
    CreateDirectoryW((dir + L"\\left").c_str(), nullptr);
    const std::wstring file = dir + L"\\left\\readonly.txt";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD put = 0;
      WriteFile(h, "left behind", 11, &put, nullptr);
      CloseHandle(h);
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  }

  if (const wchar_t* marker = _wgetenv(L"QX_PROBE_LINGER")) {
    wchar_t self[MAX_PATH * 4] = {0};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --linger \"" + marker + L"\"";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }

  if (const wchar_t* path = _wgetenv(L"QX_PROBE_REPORT")) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD put = 0;
      WriteFile(h, report.data(), static_cast<DWORD>(report.size()), &put, nullptr);
      CloseHandle(h);
    }
  }
  const wchar_t* code = _wgetenv(L"QX_PROBE_EXIT");
  return code ? _wtoi(code) : 0;
}
