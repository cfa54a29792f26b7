// Entry point: run mode, self-verification, progress dialog and exit code.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "InstallerLogic/command_line.h"
#include "InstallerLogic/dll_hardening.h"
#include "InstallerLogic/install_script.h"
#include "InstallerLogic/install_sequence.h"
#include "InstallerLogic/module_path.h"
#include "InstallerLogic/progress.h"
#include "InstallerLogic/run_values.h"
#include "InstallerLogic/scoped_handle.h"
#include "InstallerLogic/window_calls.h"
#include "bundle/attachment.h"
#include "diagnostics/logger.h"
#include "diagnostics/trace.h"
#include "integrity/builtin_keys.h"
#include "integrity/file_signature.h"
#include "resources/resource.h"
#include "util/phase_profile.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNoType = 1;
constexpr int kExitInvalid = 2;

// The arguments as CommandLineToArgvW splits them (an empty line gives the
// program's path), by the same rules in SplitCommandLine: calling it would
// load shell32 and, with it, user32 into every run.
void SplitArguments(const wchar_t* commandLine) {
  static std::vector<std::wstring> arguments;
  static std::vector<LPWSTR> pointers;
  arguments = *commandLine ? SplitCommandLine(commandLine) : std::vector<std::wstring>{modulePath};
  for (std::wstring& argument : arguments) pointers.push_back(&argument[0]);
  argList = pointers.data();
  argCount = static_cast<int>(pointers.size());
}

void RunGuiMode(HINSTANCE instance) {
  INITCOMMONCONTROLSEX icc;
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_PROGRESS_CLASS;
  const BOOL iccRes = window_calls::InitCommonControlsEx(&icc);
  DebugTrace("[INSTALLER] iccRes %d le %d\n", iccRes, static_cast<int>(GetLastError()));

  dlg = window_calls::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
  DebugTrace("[INSTALLER] dlg is %p, le %d", static_cast<void*>(dlg), static_cast<int>(GetLastError()));
  DebugTrace("[INSTALLER] hwndProgress is %p", static_cast<void*>(hwndProgress));
  if (hwndProgress) window_calls::SendMessageW(hwndProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  if (hwndProgress) window_calls::SendMessageW(hwndProgress, PBM_SETPOS, 0, 0);

  ScopedHandle worker(CreateThread(nullptr, 0, RunInstallSequence, nullptr, 0, nullptr));
  if (!worker.get()) {
    // No worker: run the sequence here; the dialog stays visible but is not
    // repainted until the sequence has finished.
    DebugTrace("[INSTALLER] worker thread not created, le %d\n", static_cast<int>(GetLastError()));
    RunInstallSequence(nullptr);
  } else {
    for (;;) {
      MSG msg;
      while (window_calls::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        window_calls::TranslateMessage(&msg);
        window_calls::DispatchMessageW(&msg);
      }
      if (WaitForSingleObject(worker.get(), 10) == WAIT_OBJECT_0) break;
    }
  }
  if (dlg) window_calls::DestroyWindow(dlg);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  ProfilePhase("");
  RestrictDllSearchPath();

  modulePath = ReadModulePath([](wchar_t* buffer, uint32_t capacity) {
    return static_cast<uint32_t>(GetModuleFileNameW(nullptr, buffer, capacity));
  });
  if (modulePath.empty())
    DebugTrace("[INSTALLER] own path not read, le %d\n", static_cast<int>(GetLastError()));
  SetModulePath(modulePath);
  SplitArguments(commandLine);

  // Every return from here on first lets the log writer write what is queued:
  // the last lines of a run are the ones that tell how it ended.
  installType = ReadAttachment(modulePath, "TYPE");
  ProfilePhase("read-TYPE");
  if (installType.empty()) {
    FlushLogAtExit();
    return kExitNoType;
  }
  installType = TrimRunType(installType);
  DebugTrace("[INSTALLER] Type is %s\n", installType.c_str());

  const bool gui = installType == "gui";
  // The trusted keys come from the image's key block, parsed here, before
  // any other thread could ask for them. A block that does not parse leaves
  // no key to verify with, so the check below fails.
  ActiveTrustedKeys();
  if (!VerifyFileSignature(modulePath, false)) {
    DebugTrace("[INSTALLER] installer file is not valid!");
    if (gui) window_calls::MessageBoxW(nullptr, L"Installer file is corrupted.", L"Error", MB_OK | MB_ICONEXCLAMATION);
    FlushLogAtExit();
    return kExitInvalid;
  }
  ProfilePhase("check-own-signature");

  if (gui)
    RunGuiMode(instance);
  else
    RunInstallSequence(nullptr);

  FlushLogAtExit();
  return kExitDone;
}
