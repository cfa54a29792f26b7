#include "InstallerLogic/dll_hardening.h"

#include <windows.h>

#include "util/system_function_win.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearchPath() {
  // Both looked up at run time: XP lacks the first, and early XP the second.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDefault = SystemFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  auto setDirectory = SystemFunction<SetDllDirectoryWFn>(L"kernel32.dll", "SetDllDirectoryW");
  if (setDirectory) setDirectory(L"");  // removes the current directory from the search
}
