#include "InstallerLogic/dll_hardening.h"

#include <windows.h>

#include <string>

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
  // The application's folder is still searched first for what is not a
  // KnownDLL (XP, Vista, 7 without its update).
  PreloadSystemLibraries();
}

const std::vector<const wchar_t*>& SystemLibrariesLoadedByName() {
  static const std::vector<const wchar_t*> names = {
      L"uxtheme.dll",  L"dwmapi.dll", L"version.dll", L"cryptbase.dll", L"sspicli.dll",
      L"msimg32.dll",  L"imm32.dll",  L"msctf.dll",   L"ntmarta.dll",   L"profapi.dll",
      L"propsys.dll",  L"userenv.dll"};
  return names;
}

void PreloadSystemLibraries() {
  wchar_t system[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return;
  const std::wstring folder = std::wstring(system, length) + L"\\";
  for (const wchar_t* name : SystemLibrariesLoadedByName()) {
    const std::wstring path = folder + name;
    // Kept loaded for the life of the process.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}
