#include "util/text_conv.h"

#include <windows.h>

// Both directions follow one pattern: estimate, convert, and on
// ERROR_INSUFFICIENT_BUFFER ask for the exact size and convert again.
std::string WideToMultiByte(const std::wstring& input, bool wholeLength) {
  if (input.empty()) return std::string();
  const int n = static_cast<int>(input.size());
  const int inCount = wholeLength ? n : -1;
  std::string out(static_cast<size_t>(n) * 3 + 20, '\0');
  int r = WideCharToMultiByte(CP_UTF8, 0, input.c_str(), inCount, &out[0],
                              static_cast<int>(out.size()), nullptr, nullptr);
  if (r == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    r = WideCharToMultiByte(CP_UTF8, 0, input.c_str(), inCount, nullptr, 0, nullptr, nullptr);
    if (r == 0) return std::string();
    out.assign(static_cast<size_t>(r), '\0');
    r = WideCharToMultiByte(CP_UTF8, 0, input.c_str(), inCount, &out[0], r, nullptr, nullptr);
  }
  if (r <= 0) return std::string();
  if (!wholeLength) --r;  // the count includes the terminating NUL
  out.resize(static_cast<size_t>(r));
  return out;
}

std::wstring MultiByteToWide(const std::string& input, bool wholeLength) {
  if (input.empty()) return std::wstring();
  const int n = static_cast<int>(input.size());
  const int inCount = wholeLength ? n : -1;
  std::wstring out(static_cast<size_t>(n) * 2, L'\0');
  int r = MultiByteToWideChar(CP_UTF8, 0, input.c_str(), inCount, &out[0], static_cast<int>(out.size()));
  if (r == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::wstring();
    r = MultiByteToWideChar(CP_UTF8, 0, input.c_str(), inCount, nullptr, 0);
    if (r == 0) return std::wstring();
    out.assign(static_cast<size_t>(r), L'\0');
    r = MultiByteToWideChar(CP_UTF8, 0, input.c_str(), inCount, &out[0], r);
  }
  if (r <= 0) return std::wstring();
  if (!wholeLength) --r;
  out.resize(static_cast<size_t>(r));
  return out;
}
