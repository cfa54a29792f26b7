// Full paths of Win32 names and the native names ntdll's calls take.
#pragma once

#include <string>

// GetFullPathNameW of `path`, however long; empty on failure.
std::wstring FullPath(const std::wstring& path);
// "\??\C:\...", "\??\UNC\server\..." for the full path of `path`; empty on failure.
std::wstring NativePath(const std::wstring& path);
