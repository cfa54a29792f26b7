#include "diagnostics/trace_switch.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

namespace {
// Closes the key on every path.
class RegKey {
 public:
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
}  // namespace

bool ReadTraceSwitch() {
  RegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrowan", 0, KEY_READ | KEY_WOW64_64KEY,
                    key.out()) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), L"QXSTR", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ || size > 255) return false;
  // size / 2 characters, zero-filled, plus room for a terminator.
  std::vector<wchar_t> text(size / 2 + 1, L'\0');
  DWORD again = size;
  if (RegQueryValueExW(key.get(), L"QXSTR", nullptr, &type,
                       reinterpret_cast<BYTE*>(text.data()), &again) != ERROR_SUCCESS)
    return false;
  text.back() = L'\0';
  return std::wcscmp(text.data(), L"!Tracelog!") == 0;
}
