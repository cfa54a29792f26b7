// Full paths of Win32 names, the native names ntdll's calls take, and the
// file operations done through a handle with ntdll's NtSetInformationFile
// (on every Windows since NT): what a handle was checked on is what changes.
#pragma once

#include <windows.h>

#include <string>

// GetFullPathNameW of `path`, however long; empty on failure.
std::wstring FullPath(const std::wstring& path);
// "\??\C:\...", "\??\UNC\server\..." for the full path of `path`; empty on failure.
std::wstring NativePath(const std::wstring& path);

// Marks what `h` (opened with DELETE access) names for deletion when its last
// handle closes; a folder must be empty.
bool DeleteWhenClosed(HANDLE h);
// Renames what `h` (opened with DELETE access) names to `to`, replacing it.
bool RenameByHandle(HANDLE h, const std::wstring& to);
