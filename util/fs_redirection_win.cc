#include "util/fs_redirection.h"

#include <windows.h>

// Looked up on every call and never linked: XP and 32-bit Windows lack them.
namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
using EnableFn = BOOLEAN(WINAPI*)(BOOLEAN);

// Through void* so the cast to the real signature is explicit and warning-free.
void* Lookup(HMODULE kernel, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(kernel, name));
}
}  // namespace

void FsRedirectionGuard::Disable(void** saved) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  if (auto disable = reinterpret_cast<DisableFn>(Lookup(kernel, "Wow64DisableWow64FsRedirection"))) {
    disable(saved);
  } else if (auto enable = reinterpret_cast<EnableFn>(Lookup(kernel, "Wow64EnableWow64FsRedirection"))) {
    enable(FALSE);  // the older interface keeps no saved state
  }
}

bool FsRedirectionGuard::Revert(void* saved) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return false;
  if (auto revert = reinterpret_cast<RevertFn>(Lookup(kernel, "Wow64RevertWow64FsRedirection")))
    return revert(saved) != FALSE;
  if (auto enable = reinterpret_cast<EnableFn>(Lookup(kernel, "Wow64EnableWow64FsRedirection")))
    return enable(TRUE) != FALSE;
  return false;
}
