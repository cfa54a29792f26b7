// The installation sequence, run on the worker thread in GUI mode and on the
// main thread in silent mode. Its result (0: the setup program ran, 1: any
// failure) never reaches the exit code; the workspace is removed on every path.
#pragma once

#include <windows.h>

#include <string>

DWORD WINAPI RunInstallSequence(LPVOID parameter);

// GetFileAttributesW answers anything (a file or a directory).
bool FileExists(const std::wstring& path);
// Creates each missing directory on the way to the file `path` names;
// components are separated by backslashes, the last one is never created.
// Backslashes before `from` are not looked at: the caller knows that part exists.
void CreateParentDirectories(const std::wstring& path, size_t from = 0);
