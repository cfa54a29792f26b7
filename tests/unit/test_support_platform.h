// Platform part of the test helpers (test_support_posix.cc / _win.cc).
#pragma once
#include <string>

extern const wchar_t kPathSep;
std::wstring MakeTempDirectory();
void RemoveTree(const std::wstring& path);
// Links for attack tests; false where the platform cannot make them (Wine
// makes hard links but no reparse points).
bool MakeHardLink(const std::wstring& link, const std::wstring& target);
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target);
bool MakeDirectory(const std::wstring& path);
