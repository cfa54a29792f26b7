// Platform part of the test helpers (test_support_posix.cc / _win.cc).
#pragma once
#include <string>

extern const wchar_t kPathSep;
std::wstring MakeTempDirectory();
void RemoveTree(const std::wstring& path);
