#include "util/fs_redirection.h"

#include <windows.h>

#include "util/system_function_win.h"

// Looked up on every call and never linked: XP and 32-bit Windows lack them.
namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
using EnableFn = BOOLEAN(WINAPI*)(BOOLEAN);
}  // namespace

void FsRedirectionGuard::Disable(void** saved) {
  if (auto disable = SystemFunction<DisableFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection")) {
    disable(saved);
  } else if (auto enable = SystemFunction<EnableFn>(L"kernel32.dll", "Wow64EnableWow64FsRedirection")) {
    enable(FALSE);  // the older interface keeps no saved state
  }
}

bool FsRedirectionGuard::Revert(void* saved) {
  if (auto revert = SystemFunction<RevertFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection"))
    return revert(saved) != FALSE;
  if (auto enable = SystemFunction<EnableFn>(L"kernel32.dll", "Wow64EnableWow64FsRedirection"))
    return enable(TRUE) != FALSE;
  return false;
}
