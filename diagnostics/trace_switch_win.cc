#include "diagnostics/trace_switch.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "util/reg_key_win.h"

bool ReadTraceSwitch() {
  RegKey key;
  if (!key.OpenMachine64(L"Software\\Kestrowan", KEY_READ)) return false;
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
