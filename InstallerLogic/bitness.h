// Everything that depends on the bitness of the process and of Windows, in
// one place: the script's processor test, the clean-up's redirection, and the
// name under which the workspace is the same folder for every process.
#pragma once

#include <string>

// A 64-bit process runs only on 64-bit Windows; a 32-bit one runs there under
// WOW64, where the file system is redirected.
constexpr bool WindowsIs64Bit(bool process64, bool wow64) { return process64 || wow64; }
constexpr bool kProcessIs64Bit = sizeof(void*) == 8;

// True when IsWow64Process (looked up at run time) reports this process as a
// 32-bit process on 64-bit Windows; false when it fails or is absent.
bool IsWow64();
// True on 64-bit Windows, whatever this process's bitness.
bool IsWindows64();

// `dir` (a folder path ending with a backslash) renamed from under `systemDir`
// to under `wow64Dir`, the letters "A"-"Z" of the prefix compared without
// case; empty when `dir` does not lie under `systemDir` or a name is empty.
std::wstring Wow64Counterpart(const std::wstring& dir, const std::wstring& systemDir,
                              const std::wstring& wow64Dir);

// A name of `dir`, or of a folder that stands in for it, that names the same
// folder for this process and for every other, 32- or 64-bit: on 64-bit
// Windows a folder under the system directory (the temporary directory of a
// run as SYSTEM) is one folder to 64-bit programs and another, under the
// WOW64 system directory, to 32-bit ones. Its counterpart there, which no
// view redirects, is taken when it exists (under WOW64: when it is proven to
// be the same folder). Otherwise `dir`.
std::wstring NameSeenByEveryView(const std::wstring& dir);
