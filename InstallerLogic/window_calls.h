// The window, dialog and common-control calls of the stub's GUI mode and of
// its message boxes, looked up when first needed instead of imported. A
// silent run then never loads user32 or comctl32: under Wine loading them
// costs a process about 0.3 s and 11 MB, on Windows a connection to the
// window station. Where a library or function cannot be had, a call does
// nothing and answers 0 (or null), as the failed call would.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace window_calls {

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND parent, DLGPROC procedure,
                        LPARAM parameter);
BOOL DestroyWindow(HWND window);
HWND GetDlgItem(HWND dialog, int id);
BOOL ShowWindow(HWND window, int command);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

}  // namespace window_calls
