// Owner of an open registry key; closes it on every path.
#pragma once

#include <windows.h>

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Opens HKEY_LOCAL_MACHINE `subkey` in the 64-bit view, also from a 32-bit process.
  bool OpenMachine64(const wchar_t* subkey, REGSAM access) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, access | KEY_WOW64_64KEY, &key_) ==
           ERROR_SUCCESS;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
