// Where SetDefaultDllDirectories is missing, the DLLs loaded by name must
// already be loaded from the system folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallerLogic/dll_hardening.h"

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = towlower(c);
  return s;
}

TEST(DllHardening, PreloadedLibrariesComeFromTheSystemFolder) {
  PreloadSystemLibraries();
  wchar_t system[MAX_PATH + 1];
  const std::wstring folder = Lower(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH + 1))) + L"\\";
  int loaded = 0;
  for (const wchar_t* name : SystemLibrariesLoadedByName()) {
    if (GetFileAttributesW((folder + name).c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    HMODULE module = GetModuleHandleW(name);
    ASSERT_NE(module, nullptr) << Lower(name).c_str();
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH + 1);
    EXPECT_EQ(Lower(std::wstring(path, n)), folder + Lower(name));
    ++loaded;
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
