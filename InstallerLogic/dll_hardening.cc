#include "InstallerLogic/dll_hardening.h"

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearchPath() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  // Both looked up at run time: XP lacks the first, and early XP the second.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  auto setDirectory = reinterpret_cast<SetDllDirectoryWFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
  if (setDirectory) setDirectory(L"");  // removes the current directory from the search
}
