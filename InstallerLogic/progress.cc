#include "InstallerLogic/progress.h"

#include <commctrl.h>

#include <string>

#include "InstallerLogic/run_values.h"
#include "InstallerLogic/window_calls.h"
#include "resources/resource.h"
#include "util/text_format.h"

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) hwndProgress = window_calls::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  // Nothing else is handled: the window has no way to be closed or cancelled.
  return FALSE;
}

void ReportProgress(int32_t base, int32_t part) {
  // Wrapping addition, as a signed 32-bit sum would on the target.
  const int32_t value = static_cast<int32_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(part));
  const std::string line = "Progress " + DecimalText(value) + "%";
  // Independent of the trace switch: progress always reaches the debugger channel.
  OutputDebugStringA(line.c_str());
  if (hwndProgress) window_calls::SendMessageW(hwndProgress, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}
