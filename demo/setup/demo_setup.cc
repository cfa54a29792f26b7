// The demonstration product's setup program. The installer stub starts it in
// its workspace with the stub's own arguments and, last, the stub's path. It
// reports what it received: its arguments as CommandLineToArgvW splits them,
// its current directory, and every file below it with its size. The report
// goes to standard output (when there is one) and to a file: the path after
// "--report" in its arguments, else "demo-setup-report.txt" beside the stub.
// When the product's GUI-only file is present (GUI run), a message box shows
// the report as well.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

const wchar_t kReportName[] = L"demo-setup-report.txt";
// Selected by the install script only in GUI runs (tag "dep-gui").
const wchar_t kGuiMarker[] = L"gui-mode.txt";

class Report {
 public:
  void Line(const std::wstring& text) { text_ += text + L"\r\n"; }
  const std::wstring& text() const { return text_; }
  std::string Utf8() const {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text_.c_str(), static_cast<int>(text_.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
      WideCharToMultiByte(CP_UTF8, 0, text_.c_str(), static_cast<int>(text_.size()), &out[0], n,
                          nullptr, nullptr);
    return out;
  }

 private:
  std::wstring text_;
};

// Formatted by hand: the C runtime of old Windows versions lacks "%llu".
std::wstring Number(unsigned long long value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// Files below `root` + `relative`, sub-directories after the files, each with
// its path relative to `root` (backslashes) and its size.
void ListFiles(const std::wstring& root, const std::wstring& relative, Report* report) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((root + relative + L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> directories;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      directories.push_back(relative + name + L"\\");
    } else {
      const unsigned long long size =
          (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      report->Line(L"file: " + relative + name + L"\t" + Number(size));
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  for (const std::wstring& d : directories) ListFiles(root, d, report);
}

bool WriteAll(HANDLE handle, const std::string& bytes) {
  DWORD written = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::wstring ReportPath(int argc, wchar_t** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::wstring(argv[i]) == L"--report") return argv[i + 1];
  // The stub passes its own path last: the report goes beside it.
  if (argc >= 2) {
    std::wstring stub = argv[argc - 1];
    const size_t slash = stub.find_last_of(L"\\/");
    if (slash != std::wstring::npos) return stub.substr(0, slash + 1) + kReportName;
  }
  return kReportName;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Report report;
  report.Line(L"Norvane demo setup report");
  for (int i = 0; i < argc; ++i) report.Line(L"argument " + Number(i) + L": " + argv[i]);
  wchar_t cwd[MAX_PATH + 1] = {0};
  GetCurrentDirectoryW(MAX_PATH + 1, cwd);
  std::wstring root = cwd;
  if (!root.empty() && root.back() != L'\\') root += L'\\';
  report.Line(L"current directory: " + root);
  ListFiles(root, L"", &report);

  const std::string bytes = report.Utf8();
  WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
  const std::wstring path = ReportPath(argc, argv);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool saved = WriteAll(file, bytes);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (GetFileAttributesW((root + kGuiMarker).c_str()) != INVALID_FILE_ATTRIBUTES)
    MessageBoxW(nullptr, report.text().c_str(), L"Norvane demo setup", MB_OK | MB_ICONINFORMATION);
  if (argv) LocalFree(argv);
  return saved ? 0 : 1;
}
