#include "InstallerLogic/bitness.h"

#include <windows.h>

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return false;
  const auto fn = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow64 = FALSE;
  return fn && fn(GetCurrentProcess(), &wow64) && wow64;
}

bool IsWindows64() { return WindowsIs64Bit(kProcessIs64Bit, IsWow64()); }
