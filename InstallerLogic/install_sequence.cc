#include "InstallerLogic/install_sequence.h"

#include <string>
#include <vector>

#include "InstallerLogic/bitness.h"
#include "InstallerLogic/command_line.h"
#include "InstallerLogic/install_script.h"
#include "InstallerLogic/progress.h"
#include "InstallerLogic/run_values.h"
#include "InstallerLogic/scoped_handle.h"
#include "InstallerLogic/script_reader.h"
#include "InstallerLogic/window_calls.h"
#include "InstallerLogic/workspace.h"
#include "bundle/attachment.h"
#include "bundle/bundle_file.h"
#include "bundle/nested_extraction.h"
#include "diagnostics/trace.h"
#include "integrity/deferred_signature_check.h"
#include "integrity/file_signature.h"
#include "util/fault_injection.h"
#include "util/phase_profile.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

constexpr DWORD kFailed = 1;
constexpr DWORD kStarted = 0;

uint32_t WindowsMajorVersion() {
  OSVERSIONINFOW version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(&version);  // a failed call leaves major version 0
  return version.dwMajorVersion;
}

// The lines the loop below will extract, in its order, up to the first line
// it refuses: what the bundle may read ahead. A wrong guess costs only the
// read-ahead.
std::vector<ScriptLine> PlannedLines(const std::vector<std::string>& lines,
                                     const ScriptConditions& system) {
  std::vector<ScriptLine> planned;
  for (const std::string& line : lines) {
    if (line.empty() || StartsWith(line, "#", false)) continue;
    ScriptLine selected = ClassifyScriptLine(line, system);
    if (selected.kind == ScriptLineKind::kUnsafeDestination) break;
    if (selected.kind == ScriptLineKind::kSelected) planned.push_back(std::move(selected));
  }
  return planned;
}

// Extracts every file the script selects for this system. False when a
// selected line cannot be honoured; the caller then stops the run. A script
// that writes setup.exe itself gets it back from `setupHold` first, and the
// check started on it is dropped.
bool ExtractSelectedFiles(BundleFile* bundle, const std::vector<std::string>& lines,
                          const std::wstring& workspace, File* setupHold,
                          DeferredSignatureCheck* setupCheck) {
  const ScriptConditions system{IsWindows64(), WindowsMajorVersion(), installType};
  std::vector<std::string> records;
  for (const ScriptLine& planned : PlannedLines(lines, system)) {
    records.push_back(planned.record);
    if (setupHold->IsOpen() &&
        MayNameWorkspaceFile(MultiByteToWide(planned.destination, false), L"setup.exe")) {
      setupCheck->Abandon();
      setupHold->Close();
    }
  }
  // The check shares the processors with the validation only: the extraction
  // below keeps both busy on its own.
  setupCheck->Wait();
  bundle->PlanExtraction(std::move(records));
  const uint32_t count = static_cast<uint32_t>(lines.size());
  for (uint32_t i = 0; i < count; ++i) {
    ReportProgress(85, ScriptLineProgress(i, count) - 85);
    const std::string& line = lines[i];
    if (line.empty() || StartsWith(line, "#", false)) continue;
    DebugTrace("%d: %s", static_cast<int>(i), line.c_str());
    const ScriptLine selected = ClassifyScriptLine(line, system);
    switch (selected.kind) {
      case ScriptLineKind::kIgnored:
      case ScriptLineKind::kNotSelected:
        continue;
      case ScriptLineKind::kTooFewFields:
        DebugTrace("[INSTALLER] line %d names no record or destination, skipped\n",
                   static_cast<int>(i));
        continue;
      case ScriptLineKind::kUnsafeDestination:
      case ScriptLineKind::kSelected:
        break;
    }
    // Checked again as it will be opened, after conversion.
    const std::wstring relative = MultiByteToWide(selected.destination, false);
    if (selected.kind == ScriptLineKind::kUnsafeDestination || !IsSafeDestination(relative)) {
      DebugTrace("[INSTALLER] destination %s leaves the workspace, refused\n",
                 selected.destination.c_str());
      return false;
    }
    const std::wstring destination = workspace + relative;
    // The workspace and the folders above it exist: only the script's own
    // folders are looked up (each look-up is a file-system query).
    CreateParentDirectories(destination, workspace.size());
    if (!bundle->ExtractRecord(destination, selected.record)) return false;
  }
  return true;
}

// Starts the setup program and waits for it. `setupHold` keeps setup.exe
// unchangeable until CreateProcessW has returned.
DWORD StartSetup(const std::wstring& workspace, File* setupHold) {
  std::vector<std::wstring> arguments;
  for (int i = 0; argList && i < argCount; ++i) arguments.emplace_back(argList[i]);
  const std::wstring commandLine =
      BuildSetupCommandLine(workspace + L"setup.exe", arguments, modulePath);
  DebugTrace("[INSTALLER] setup.exe: %s\n", WideToMultiByte(commandLine, false).c_str());

  // The platform may write into the buffer.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  const BOOL started = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      workspace.c_str(), &startup, &process);
  const DWORD error = GetLastError();
  setupHold->Close();
  if (!started) {
    DebugTrace("[INSTALLER] CreateProcessW failed, le %d\n", static_cast<int>(error));
    return kFailed;
  }
  ScopedHandle thread(process.hThread);
  ScopedHandle child(process.hProcess);
  thread.Reset();
  if (dlg) window_calls::ShowWindow(dlg, SW_HIDE);
  WaitForSingleObject(child.get(), INFINITE);
  return kStarted;
}

// Everything between the workspace's creation and its removal. The inner
// bundle is closed when this returns, before the workspace goes.
DWORD RunInWorkspace(const std::wstring& workspace) {
  const std::wstring setupPath = workspace + L"setup.exe";
  // The inner bundle travels inside setup.exe: it is hashed and written while
  // setup.exe is, and its own extraction then only confirms the result.
  NestedExtraction innerBundle("IBND", workspace + L"ibnd");
  if (!ExtractAttachment(50, 0, {true, modulePath, "LOAD", setupPath, &innerBundle}))
    return kFailed;
  ProfilePhase("extract-LOAD");
  if (!ExtractAttachment(25, 50, {false, setupPath, "IBND", workspace + L"ibnd", &innerBundle}))
    return kFailed;
  ProfilePhase("extract-IBND");
  if (FindAttachment("A404")) ExtractAppendedAttachment("A404", workspace + L"qxav_404.dat");
  ProfilePhase("A404");

  // setup.exe is complete. Held unchangeable from here until it has been
  // started, it has its signature checked on a second thread while the inner
  // bundle is validated; the verdict and the check's trace lines come where
  // the check stands, after the extraction. Without the hold or the thread,
  // the check runs there as well.
  File setupHold;
  DeferredSignatureCheck setupCheck;
  if (setupHold.Open(setupPath, FileAccess::kReadDenyWrite)) setupCheck.Start(setupPath);

  BundleFile bundle;
  if (!OpenInnerBundle(&bundle, workspace + L"ibnd")) return kFailed;
  ProfilePhase("open-and-validate-bundle");
  ReportProgress(85, 0);

  std::vector<std::string> lines;
  const bool script = ReadInstallScript(&bundle, &lines);
  ProfilePhase("read-script");
  if (!script || !ExtractSelectedFiles(&bundle, lines, workspace, &setupHold, &setupCheck)) {
    bundle.Close();
    return kFailed;
  }
  ProfilePhase("extract-files");

  // Held from before its check until it has been started, so what runs is
  // what was checked.
  if (!setupHold.IsOpen() && !setupHold.Open(setupPath, FileAccess::kReadDenyWrite)) {
    DebugTrace("[INSTALLER] setup.exe cannot be opened, le %d\n",
               static_cast<int>(GetLastError()));
    return kFailed;
  }
  const bool valid =
      setupCheck.started() ? setupCheck.Finish() : VerifyFileSignature(setupPath, false);
  if (!valid) {
    if (installType == "gui")
      window_calls::MessageBoxW(nullptr, L"Installer file is corrupted.", L"Error", MB_OK | MB_ICONEXCLAMATION);
    DebugTrace("[INSTALLER] installer file is not valid!");
    return kFailed;
  }
  ProfilePhase("verify-setup-signature");
  const DWORD started = StartSetup(workspace, &setupHold);
  ProfilePhase("run-setup");
  return started;
}

}  // namespace

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CreateParentDirectories(const std::wstring& path, size_t from) {
  for (size_t p = path.find(L'\\', from); p != std::wstring::npos; p = path.find(L'\\', p + 1)) {
    const std::wstring prefix = path.substr(0, p);
    if (!FileExists(prefix) && !InjectFault(FaultSite::kCreateDirectory))
      CreateDirectoryW(prefix.c_str(), nullptr);
  }
}

DWORD WINAPI RunInstallSequence(LPVOID) {
  ProfilePhase("before-sequence");
  DWORD result = kFailed;
  {
    // The workspace outlives the clean-up: it holds the directory, so that
    // nobody can rename it or swap another in, until its contents are gone.
    Workspace workspace;
    CleanupList cleanup;
    if (!workspace.Create()) return kFailed;
    cleanup.AddDirectory(&workspace);
    ProfilePhase("create-workspace");
    result = RunInWorkspace(workspace.path());
    ProfilePhase("close-bundle");
  }
  ProfilePhase("remove-workspace");
  ProfileWrite();
  return result;
}
