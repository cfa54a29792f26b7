// Everything that depends on the bitness of the process and of Windows, in
// one place: the script's processor test and the clean-up's redirection.
#pragma once

// A 64-bit process runs only on 64-bit Windows; a 32-bit one runs there under
// WOW64, where the file system is redirected.
constexpr bool WindowsIs64Bit(bool process64, bool wow64) { return process64 || wow64; }
constexpr bool kProcessIs64Bit = sizeof(void*) == 8;

// True when IsWow64Process (looked up at run time) reports this process as a
// 32-bit process on 64-bit Windows; false when it fails or is absent.
bool IsWow64();
// True on 64-bit Windows, whatever this process's bitness.
bool IsWindows64();
