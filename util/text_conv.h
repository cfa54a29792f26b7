// UTF-16 (UTF-32 on host builds, where wchar_t is 32-bit) <-> UTF-8.
// An empty result is the only failure signal. With wholeLength false the
// conversion stops at the first NUL; true converts embedded NULs as well.
// Ill-formed input is replaced (U+FFFD), never an error.
#pragma once

#include <string>

std::string WideToMultiByte(const std::wstring& input, bool wholeLength = false);
std::wstring MultiByteToWide(const std::string& input, bool wholeLength = false);
