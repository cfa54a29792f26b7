#include "diagnostics/log_platform.h"

#include <windows.h>

#include <vector>

#include "util/reg_key_win.h"

namespace {
const wchar_t kMakerKey[] = L"SOFTWARE\\Kestrowan";
const wchar_t kConfigValue[] = L"qxdbg";
constexpr DWORD kMaxConfigBytes = 8192;
}  // namespace

bool ReadLogConfigValue(std::wstring* text) {
  RegKey key;
  if (!key.OpenMachine64(kMakerKey, KEY_READ)) return false;
  // The type is not checked: whatever is stored is read as UTF-16 text.
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kConfigValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
      size == 0 || size > kMaxConfigBytes)
    return false;
  std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
  DWORD again = size;
  if (RegQueryValueExW(key.get(), kConfigValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer.data()), &again) != ERROR_SUCCESS)
    return false;
  buffer.back() = L'\0';
  text->assign(buffer.data());
  return !text->empty();
}

void DeleteLogConfigValue() {
  RegKey key;
  if (key.OpenMachine64(kMakerKey, KEY_SET_VALUE)) RegDeleteValueW(key.get(), kConfigValue);
}

LocalTime LocalTimeNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

uint64_t UtcNow100ns() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t since1601 = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return since1601 - 116444736000000000ull;  // 1601-01-01 to 1970-01-01
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void SleepMilliseconds(uint32_t ms) { Sleep(ms); }
