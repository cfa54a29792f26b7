#include "InstallerLogic/window_calls.h"

namespace window_calls {
namespace {

// Both libraries come from the system: the DLL search path is restricted
// before anything is looked up.
struct Calls {
  decltype(&::InitCommonControlsEx) initCommonControlsEx = nullptr;
  decltype(&::CreateDialogParamW) createDialogParam = nullptr;
  decltype(&::DestroyWindow) destroyWindow = nullptr;
  decltype(&::GetDlgItem) getDlgItem = nullptr;
  decltype(&::ShowWindow) showWindow = nullptr;
  decltype(&::SendMessageW) sendMessage = nullptr;
  decltype(&::PeekMessageW) peekMessage = nullptr;
  decltype(&::TranslateMessage) translateMessage = nullptr;
  decltype(&::DispatchMessageW) dispatchMessage = nullptr;
  decltype(&::MessageBoxW) messageBox = nullptr;
};

template <typename F>
void Find(HMODULE module, const char* name, F* function) {
  if (module) *function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Calls& Get() {
  // Loaded once, on the first call (the main thread's, before the worker
  // starts); the libraries stay loaded for the life of the process.
  static const Calls calls = [] {
    Calls c;
    const HMODULE user32 = LoadLibraryW(L"user32.dll");
    const HMODULE comctl32 = LoadLibraryW(L"comctl32.dll");
    Find(comctl32, "InitCommonControlsEx", &c.initCommonControlsEx);
    Find(user32, "CreateDialogParamW", &c.createDialogParam);
    Find(user32, "DestroyWindow", &c.destroyWindow);
    Find(user32, "GetDlgItem", &c.getDlgItem);
    Find(user32, "ShowWindow", &c.showWindow);
    Find(user32, "SendMessageW", &c.sendMessage);
    Find(user32, "PeekMessageW", &c.peekMessage);
    Find(user32, "TranslateMessage", &c.translateMessage);
    Find(user32, "DispatchMessageW", &c.dispatchMessage);
    Find(user32, "MessageBoxW", &c.messageBox);
    return c;
  }();
  return calls;
}

}  // namespace

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  if (!Get().initCommonControlsEx) return FALSE;
  return Get().initCommonControlsEx(controls);
}
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND parent, DLGPROC procedure,
                        LPARAM parameter) {
  if (!Get().createDialogParam) return nullptr;
  return Get().createDialogParam(instance, name, parent, procedure, parameter);
}
BOOL DestroyWindow(HWND window) {
  return Get().destroyWindow ? Get().destroyWindow(window) : FALSE;
}
HWND GetDlgItem(HWND dialog, int id) {
  return Get().getDlgItem ? Get().getDlgItem(dialog, id) : nullptr;
}
BOOL ShowWindow(HWND window, int command) {
  return Get().showWindow ? Get().showWindow(window, command) : FALSE;
}
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Get().sendMessage ? Get().sendMessage(window, message, wParam, lParam) : 0;
}
BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
  return Get().peekMessage ? Get().peekMessage(message, window, first, last, remove) : FALSE;
}
BOOL TranslateMessage(const MSG* message) {
  return Get().translateMessage ? Get().translateMessage(message) : FALSE;
}
LRESULT DispatchMessageW(const MSG* message) {
  return Get().dispatchMessage ? Get().dispatchMessage(message) : 0;
}
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return Get().messageBox ? Get().messageBox(owner, text, caption, type) : 0;
}

}  // namespace window_calls
