// Runs the installation sequence in-process on a finished installer once
// clean, then once for every platform call it makes with that call failing.
// Usage: fault_runner INSTALLER REPORT  (REPORT: where the stand-in setup
// program writes its report). Checks per run: a result of success means the
// setup program got every file complete; a failure means it never started;
// no workspace remains unless the failed call was one of the clean-up's own
// deletions. Prints one line per run; exit 0 when every run passed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "InstallerLogic/install_sequence.h"
#include "InstallerLogic/run_values.h"
#include "InstallerLogic/workspace.h"
#include "bundle/attachment.h"
#include "util/fault_injection.h"
#include "util/platform.h"

namespace {

const char* const kSiteNames[] = {"open", "read", "write", "mkdir", "rename", "delete"};

// The report's "file" lines: what the setup program found, with digests.
std::vector<std::string> ReportFiles(const std::wstring& path) {
  std::vector<std::string> lines;
  File file;
  if (!file.Open(path, FileAccess::kRead)) return lines;
  std::string text(static_cast<size_t>(file.Size()), '\0');
  text.resize(file.Read(&text[0], text.size()));
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    // The optional extra file may fail to arrive without failing the run.
    if (text.compare(start, 5, "file\t") == 0 && text.compare(start, 17, "file\tqxav_404.dat") != 0)
      lines.push_back(text.substr(start, end - start));
  lines.push_back("present");
  return lines;
}

std::vector<std::wstring> Workspaces() {
  std::vector<std::wstring> found;
  const std::wstring temp = GetTempDirectory();
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((temp + L"ITMPD_*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do found.push_back(temp + data.cFileName);
  while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  modulePath = argv[1];
  SetModulePath(modulePath);
  installType = "silent";
  const std::wstring report = argv[2];
  SetEnvironmentVariableW(L"QX_PROBE_REPORT", report.c_str());

  DeleteFileW(report.c_str());
  ArmFaultInjection(0);
  const DWORD clean = RunInstallSequence(nullptr);
  const uint64_t calls = FaultCallCount();
  const std::vector<std::string> baseline = ReportFiles(report);
  std::printf("clean run: result %lu, %llu calls, %zu files\n", clean,
              static_cast<unsigned long long>(calls), baseline.size() - 1);
  if (clean != 0 || baseline.empty() || !Workspaces().empty()) return 1;

  int failures = 0;
  for (uint64_t n = 1; n <= calls; ++n) {
    DeleteFileW(report.c_str());
    ArmFaultInjection(n);
    const DWORD result = RunInstallSequence(nullptr);
    FaultSite site = FaultSite::kOpen;
    const bool injected = FaultWasInjected(&site);
    ArmFaultInjection(0);
    const std::vector<std::string> files = ReportFiles(report);
    std::string problem;
    if (!injected) problem = "no call failed";
    else if (result == 0 && files != baseline) problem = "success without every file";
    else if (result != 0 && !files.empty()) problem = "setup started on a failed run";
    const std::vector<std::wstring> left = Workspaces();
    if (!left.empty() && !(injected && site == FaultSite::kDelete)) problem = "workspace remains";
    for (const std::wstring& dir : left) DeleteDirectoryTree(dir);
    std::printf("call %llu (%s): result %lu %s\n", static_cast<unsigned long long>(n),
                injected ? kSiteNames[static_cast<int>(site)] : "-", result,
                problem.empty() ? "ok" : problem.c_str());
    if (!problem.empty()) ++failures;
  }
  std::printf("%d of %llu faulty runs failed a check\n", failures, static_cast<unsigned long long>(calls));
  return failures == 0 ? 0 : 1;
}
